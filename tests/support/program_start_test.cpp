// Starting programs with the full and the limited token, command-line quoting and time limits.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "tests/support/box_sample_protocol.h"
#include "tests/support/program_start.h"
#include "tests/support/support_error.h"

namespace vexo::test {
namespace {

constexpr std::uint32_t kTimeoutMs = 30000;

std::wstring SamplePath() {
  return CurrentProgramFolder() + L"\\box-sample.exe";
}

TEST(BuildCommandLine, SplitsBackIntoTheSameArguments) {
  const std::vector<std::vector<std::wstring>> cases = {
      {L"plain"},
      {L""},
      {L"two words", L"x"},
      {L"say \"hi\""},
      {L"C:\\trailing\\"},
      {L"C:\\with space\\"},
      {L"back\\\\\"quote"},
      {L"첫 줄\n둘째 줄", L"\t"},
      {L"--cleanup", L"0123456789abcdef0123456789abcdef"},
  };
  for (const auto& arguments : cases) {
    const std::wstring line = BuildCommandLine(L"C:\\dir with space\\prog.exe", arguments);
    int count = 0;
    const UniqueArgv argv(::CommandLineToArgvW(line.c_str(), &count));
    ASSERT_TRUE(argv) << ToUtf8(line);
    ASSERT_EQ(static_cast<std::size_t>(count), arguments.size() + 1) << ToUtf8(line);
    EXPECT_EQ(std::wstring(argv.get()[0]), L"C:\\dir with space\\prog.exe");
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      EXPECT_EQ(std::wstring(argv.get()[i + 1]), arguments[i]) << ToUtf8(line);
    }
  }
}

struct TokenCase {
  TokenKind token;
  std::uint32_t sample_exit;
  bool elevated;
};

TEST(StartProgram, TokenKindDecidesElevation) {
  const TokenCase cases[] = {
      {TokenKind::kFull, sample::kExitElevated, true},
      {TokenKind::kLimited, sample::kExitNotElevated, false},
  };
  for (const auto& c : cases) {
    // What the program reads from its own token...
    const ProgramResult result =
        RunProgram(ProgramCommand(SamplePath(), {sample::kElevationSwitch}, c.token), kTimeoutMs);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, c.sample_exit);
    // ...and what the test sees on the running process.
    RunningProgram running =
        StartProgram(ProgramCommand(SamplePath(), {sample::kHangSwitch}, c.token));
    EXPECT_EQ(IsProcessElevated(running.handle()), c.elevated);
    running.Terminate();
    EXPECT_TRUE(running.HasEnded());
  }
}

TEST(StartProgram, WorkingDirectoryMustExist) {
  EXPECT_THROW(StartProgram({SamplePath(), {}, TokenKind::kFull, L"C:\\no\\such\\folder"}),
               SupportError);
  EXPECT_THROW(StartProgram(ProgramCommand(CurrentProgramFolder() + L"\\no-such-program.exe")),
               SupportError);
}

TEST(RunProgram, ProgramThatDoesNotEndIsTerminated) {
  RunningProgram running = StartProgram(ProgramCommand(SamplePath(), {sample::kHangSwitch}));
  const ProgramResult result = running.WaitOrTerminate(300);
  EXPECT_TRUE(result.timed_out);
  EXPECT_EQ(result.exit_code, static_cast<std::uint32_t>(ERROR_TIMEOUT));
  EXPECT_TRUE(running.HasEnded());
}

TEST(RunProgram, ExitCodeOfAProgramThatEnds) {
  const ProgramResult result = RunProgram(ProgramCommand(SamplePath(), {L"--unknown"}), kTimeoutMs);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, sample::kExitBadCommandLine);
}

}  // namespace
}  // namespace vexo::test
