// Message-box text of a Failure, with the descriptions this system really gives.
#include <gtest/gtest.h>

#include <string>

#include "common/failure.h"
#include "common/failure_text.h"

namespace vexo {
namespace {

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

struct KnownCodeCase {
  const wchar_t* message;
  std::uint32_t code;
  const wchar_t* expected_prefix;
};

TEST(FormatFailureTextTest, KnownCodesCarryTheSystemDescription) {
  const KnownCodeCase cases[] = {
      {L"Windows 관리자 승인이 필요합니다.", 5, L"Windows 관리자 승인이 필요합니다.\n오류 5: "},
      {L"Vexo Host가 이미 실행 중입니다. 기존 창을 사용해 주세요.", 183,
       L"Vexo Host가 이미 실행 중입니다. 기존 창을 사용해 주세요.\n오류 183: "},
      {L"첫 줄\n둘째 줄", 2, L"첫 줄\n둘째 줄\n오류 2: "},
      {L"", 1460, L"\n오류 1460: "},
  };
  for (const KnownCodeCase& c : cases) {
    const std::wstring text = FormatFailureText(Failure{c.code, c.message});
    EXPECT_TRUE(StartsWith(text, c.expected_prefix)) << testing::PrintToString(text);
    // The system's text follows untouched, line break included.
    const std::wstring description = text.substr(std::wstring(c.expected_prefix).size());
    EXPECT_FALSE(description.empty()) << c.code;
    EXPECT_EQ(description.back(), L'\n') << c.code;
  }
}

TEST(FormatFailureTextTest, UnknownCodeEndsAfterTheNumber) {
  const std::uint32_t private_codes[] = {0x20000001u, 0x2000FFFFu, 99999u};
  for (std::uint32_t code : private_codes) {
    const std::wstring text = FormatFailureText(Failure{code, L"메시지"});
    EXPECT_EQ(text, L"메시지\n오류 " + DecimalText(code));
  }
}

}  // namespace
}  // namespace vexo
