// The Host preparation's real time limit: 30 seconds of a child that does not end.
#include <gtest/gtest.h>

#include <windows.h>

#include "common/error_codes.h"
#include "common/failure.h"
#include "launcher/elevation.h"
#include "launcher/messages.h"
#include "tests/launcher/child_process.h"

namespace vexo {
namespace {

constexpr std::uint32_t kPreparationLimitMs = 30000;

TEST(WaitForProcessPumpingSlowTest, ThirtySecondLimitTimesOut) {
  UniqueHandle child = test::StartChild(L"sleep 120000 0");
  ASSERT_TRUE(child);
  const ULONGLONG start = ::GetTickCount64();
  std::uint32_t code = 0;
  std::wstring text;
  try {
    WaitForProcessPumping(child.get(), kPreparationLimitMs);
  } catch (const Failure& failure) {
    code = failure.code;
    text = failure.message;
  }
  const ULONGLONG waited = ::GetTickCount64() - start;
  ::TerminateProcess(child.get(), 0);
  EXPECT_EQ(code, error::kTimeout);
  EXPECT_EQ(text, message::kPreparationTimedOut);
  EXPECT_GE(waited, kPreparationLimitMs);
}

TEST(WaitForProcessPumpingSlowTest, NoLimitOutlastsThirtySeconds) {
  UniqueHandle child = test::StartChild(L"sleep 32000 11");
  ASSERT_TRUE(child);
  EXPECT_EQ(WaitForProcessPumping(child.get(), kNoTimeLimit), 11u);
}

}  // namespace
}  // namespace vexo
