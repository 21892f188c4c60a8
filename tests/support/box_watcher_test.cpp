// The message-box driver and watcher against box-sample.exe: icons told apart through the hook,
// texts read exactly, buttons pressed, and every deviation from a script reported.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/box_expectations.h"
#include "tests/support/box_sample_protocol.h"
#include "tests/support/box_watcher.h"
#include "tests/support/support_error.h"

namespace vexo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::SizeIs;
using ::testing::StartsWith;

constexpr std::uint32_t kTimeoutMs = 30000;

// box-sample showing one box per (flags, text) pair.
ProgramStart SampleShowing(const std::vector<std::pair<unsigned, std::wstring>>& boxes,
                           TokenKind token = TokenKind::kFull) {
  ProgramStart start{CurrentProgramFolder() + L"\\box-sample.exe", {}, token, {}};
  for (const auto& [flags, text] : boxes) {
    start.arguments.push_back(sample::kBoxSwitch);
    start.arguments.push_back(std::to_wstring(flags));
    start.arguments.push_back(text);
  }
  return start;
}

struct IconCase {
  unsigned flags;
  BoxIcon icon;
};

constexpr IconCase kIconCases[] = {
    {MB_ICONERROR, BoxIcon::kError},              // 0x10
    {MB_ICONINFORMATION, BoxIcon::kInformation},  // 0x40
    {MB_ICONWARNING, BoxIcon::kWarning},          // 0x30
    {MB_ICONQUESTION, BoxIcon::kQuestion},        // 0x20
    {MB_OK, BoxIcon::kNone},
};

TEST(BoxWatcher, TellsTheIconOfEachBox) {
  for (const auto& c : kIconCases) {
    for (const TokenKind token : {TokenKind::kFull, TokenKind::kLimited}) {
      SCOPED_TRACE(std::string(BoxIconName(c.icon)) +
                   (token == TokenKind::kLimited ? " limited" : " full"));
      const ScriptedRun run = RunWithBoxes(SampleShowing({{c.flags, L"아이콘"}}, token),
                                           BoxScript().ExpectOk(c.icon, L"아이콘"), kTimeoutMs);
      EXPECT_TRUE(BoxesAsScripted(run));
      EXPECT_EQ(run.result.exit_code, static_cast<std::uint32_t>(IDOK));
    }
  }
}

TEST(BoxWatcher, WrongIconIsAViolation) {
  for (const auto& c : kIconCases) {
    const BoxIcon wrong = c.icon == BoxIcon::kError ? BoxIcon::kInformation : BoxIcon::kError;
    const ScriptedRun run = RunWithBoxes(SampleShowing({{c.flags, L"x"}}),
                                         BoxScript().ExpectOk(wrong, L"x"), kTimeoutMs);
    ASSERT_THAT(run.violations, SizeIs(1)) << BoxIconName(c.icon);
    EXPECT_THAT(run.violations[0], HasSubstr(std::string("icon ") + BoxIconName(c.icon)));
    EXPECT_FALSE(run.result.timed_out);
  }
}

TEST(BoxWatcher, ReadsTheTextExactly) {
  const std::wstring texts[] = {
      L"Windows 관리자 승인이 필요합니다.\n오류 5: 액세스가 거부되었습니다.",
      L"지정한 실행의 임시 파일과 보조서비스를 정리할까요?\n\n해당 Host를 먼저 종료해 주세요.",
      L"  앞뒤 공백과 \"따옴표\" \\ 역슬래시  ",
  };
  for (const auto& text : texts) {
    const ScriptedRun run = RunWithBoxes(SampleShowing({{MB_ICONERROR, text}}),
                                         BoxScript().ExpectOk(BoxIcon::kError, text), kTimeoutMs);
    EXPECT_TRUE(BoxesAsScripted(run));
    ASSERT_THAT(run.boxes, SizeIs(1));
    EXPECT_EQ(run.boxes[0].box.text, text);
  }
}

TEST(BoxWatcher, AnswersYesOrNo) {
  // The shape of the cleanup confirmation: Yes/No, information icon, No as the default.
  constexpr unsigned kConfirmation = MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2;
  for (const int press : {IDYES, IDNO}) {
    const ScriptedRun run = RunWithBoxes(
        SampleShowing({{kConfirmation, L"정리할까요?"}}),
        BoxScript().ExpectYesNo(BoxIcon::kInformation, L"정리할까요?", press), kTimeoutMs);
    EXPECT_TRUE(BoxesAsScripted(run));
    EXPECT_EQ(run.result.exit_code, static_cast<std::uint32_t>(press));
    ASSERT_THAT(run.boxes, SizeIs(1));
    EXPECT_EQ(run.boxes[0].box.ButtonIds(), (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(run.boxes[0].pressed, press);
  }
}

TEST(BoxWatcher, BoxesInOrderAcrossOneRun) {
  const ScriptedRun run = RunWithBoxes(
      SampleShowing({{MB_ICONWARNING | MB_OKCANCEL, L"하나"}, {MB_ICONINFORMATION, L"둘"}}),
      BoxScript()
          .Expect({BoxIcon::kWarning, L"하나", {IDOK, IDCANCEL}, IDCANCEL})
          .ExpectOk(BoxIcon::kInformation, L"둘"),
      kTimeoutMs);
  EXPECT_TRUE(BoxesAsScripted(run));
  ASSERT_THAT(run.boxes, SizeIs(2));
  EXPECT_EQ(run.boxes[0].pressed, IDCANCEL);
  EXPECT_EQ(run.result.exit_code, static_cast<std::uint32_t>(IDOK));
}

TEST(BoxWatcher, UnexpectedBoxFailsAndIsAnswered) {
  // One box expected, two shown: the second is a violation, and it is answered so the program
  // still ends on its own.
  const ScriptedRun run =
      RunWithBoxes(SampleShowing({{MB_ICONERROR, L"예상"}, {MB_YESNO, L"예상 밖"}}),
                   BoxScript().ExpectOk(BoxIcon::kError, L"예상"), kTimeoutMs);
  EXPECT_FALSE(BoxesAsScripted(run));
  ASSERT_THAT(run.violations, SizeIs(1));
  EXPECT_THAT(run.violations[0], StartsWith("unexpected box: icon=none buttons=yes,no"));
  EXPECT_FALSE(run.result.timed_out);
  EXPECT_EQ(run.result.exit_code, static_cast<std::uint32_t>(IDNO));
}

TEST(BoxWatcher, EmptyScriptAllowsNoBox) {
  const ScriptedRun run = RunWithBoxes(SampleShowing({{MB_ICONERROR, L"아무도 기대하지 않음"}}),
                                       BoxScript(), kTimeoutMs);
  ASSERT_THAT(run.violations, SizeIs(1));
  EXPECT_THAT(run.violations[0], StartsWith("unexpected box: icon=error"));
  EXPECT_EQ(run.result.exit_code, static_cast<std::uint32_t>(IDOK));
}

TEST(BoxWatcher, ExpectedBoxThatNeverCameFails) {
  const ProgramStart start =
      ProgramCommand(CurrentProgramFolder() + L"\\box-sample.exe", {sample::kElevationSwitch});
  const ScriptedRun run =
      RunWithBoxes(start, BoxScript().ExpectOk(BoxIcon::kError, L"오지 않는 상자"), kTimeoutMs);
  ASSERT_THAT(run.violations, SizeIs(1));
  EXPECT_THAT(run.violations[0], StartsWith("expected box 1 never appeared"));
  EXPECT_EQ(run.result.exit_code, sample::kExitElevated);
}

TEST(BoxWatcher, DifferentTextAndButtonsAreViolations) {
  const ScriptedRun run = RunWithBoxes(SampleShowing({{MB_ICONERROR | MB_OKCANCEL, L"실제"}}),
                                       BoxScript().ExpectOk(BoxIcon::kError, L"기대"), kTimeoutMs);
  ASSERT_THAT(run.violations, SizeIs(2));
  EXPECT_THAT(run.violations[0], HasSubstr("text \"실제\", expected \"기대\""));
  EXPECT_THAT(run.violations[1], HasSubstr("buttons ok,cancel, expected ok"));
  // The scripted button exists on the box, so it was pressed.
  EXPECT_EQ(run.result.exit_code, static_cast<std::uint32_t>(IDOK));
}

TEST(BoxWatcher, ProgramThatDoesNotEndFails) {
  const ProgramStart start =
      ProgramCommand(CurrentProgramFolder() + L"\\box-sample.exe", {sample::kHangSwitch});
  const ScriptedRun run = RunWithBoxes(start, BoxScript(), 300);
  EXPECT_TRUE(run.result.timed_out);
  ASSERT_THAT(run.violations, SizeIs(1));
  EXPECT_THAT(run.violations[0], HasSubstr("did not end within 300 ms"));
}

TEST(BoxScript, PressMustBeOneOfTheButtons) {
  BoxScript script;
  EXPECT_THROW(script.Expect({BoxIcon::kError, L"x", {IDOK}, IDYES}), SupportError);
  EXPECT_THROW(script.Expect({BoxIcon::kError, L"x", {}, IDOK}), SupportError);
  EXPECT_TRUE(script.boxes().empty());
}

}  // namespace
}  // namespace vexo::test
