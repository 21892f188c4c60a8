// The Host preparation's real time limit: 30 seconds of a child that does not end.
#include <gtest/gtest.h>

#include <windows.h>

#include "common/error_codes.h"
#include "common/failure.h"
#include "deploy/messages.h"
#include "launcher/elevation.h"
#include "launcher/messages.h"
#include "system/process_wait.h"
#include "tests/launcher/child_process.h"

namespace vexo {
namespace {

using test::StartChild;

constexpr std::uint32_t kPreparationLimitMs = 30000;

TEST(WaitForProcessPumpingSlowTest, ThirtySecondLimitTimesOut) {
  test::RunningProgram child = StartChild({L"sleep", L"120000", L"0"});
  const ULONGLONG start = ::GetTickCount64();
  std::uint32_t code = 0;
  std::wstring text;
  try {
    WaitForProcessPumping(child.handle(), kPreparationLimitMs, message::kRemoteSupportWait);
  } catch (const Failure& failure) {
    code = failure.code;
    text = failure.message;
  }
  const ULONGLONG waited = ::GetTickCount64() - start;
  child.Terminate();
  EXPECT_EQ(code, error::kTimeout);
  EXPECT_EQ(text, message::kPreparationTimedOut);
  EXPECT_GE(waited, kPreparationLimitMs);
}

TEST(WaitForProcessPumpingSlowTest, NoLimitOutlastsThirtySeconds) {
  test::RunningProgram child = StartChild({L"sleep", L"32000", L"11"});
  EXPECT_EQ(WaitForProcessPumping(child.handle(), kNoTimeLimit, message::kRemoteSupportWait), 11u);
}

}  // namespace
}  // namespace vexo
