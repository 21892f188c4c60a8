// A Failure and its message-box text, with the descriptions this system really gives.
#include <gtest/gtest.h>

#include "common/failure_text.h"
#include "tests/common/catch_failure.h"

namespace vexo {
namespace {

// A zero code never reaches the customer: it becomes 13. Codes print in decimal.
TEST(FailureTest, ZeroCodeBecomesInvalidDataAndCodesPrintInDecimal) {
  EXPECT_EQ(RefusalOf([] { ThrowFailure(L"x", 0); }), L"13: x");
  EXPECT_EQ(RefusalOf([] { ThrowFailure(L"x", 0xFFFFFFFFu); }), L"4294967295: x");
}

TEST(FormatFailureTextTest, SentenceThenCodeThenTheSystemsDescription) {
  // A known code: the system's text follows untouched, its line break included.
  const std::wstring prefix = L"첫 줄\n둘째 줄\n오류 2: ";
  const std::wstring known = FormatFailureText(Failure{2, L"첫 줄\n둘째 줄"});
  ASSERT_GT(known.size(), prefix.size() + 1);
  EXPECT_EQ(known.substr(0, prefix.size()), prefix);
  EXPECT_EQ(known.back(), L'\n');
  // A code the system has no text for ends after the number.
  EXPECT_EQ(FormatFailureText(Failure{0x20000001u, L"메시지"}), L"메시지\n오류 536870913");
}

}  // namespace
}  // namespace vexo
