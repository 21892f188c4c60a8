// The real launcher under Wine, one row per distinct outcome: the payload check, damaged
// payloads, command lines of no known shape, the elevated switches without rights and the
// elevated start of this build. The command-line grammar itself is tested in
// tests/launcher/launch_request_test.cpp; here two rows show that its refusal reaches the
// outside as 87 without a window.
#include <gtest/gtest.h>

#include "deploy/messages.h"
#include "launcher/messages.h"
#include "payload/messages.h"
#include "tests/e2e/launcher_test_support.h"

namespace vexo::test {
namespace {

constexpr wchar_t kRunId[] = L"0123456789abcdef0123456789abcdef";

enum class Damage { kNone, kRemove, kFlip };

struct ModeCase {
  std::vector<std::wstring> arguments;
  TokenKind token;
  Damage damage;
  std::uint16_t resource;
  std::uint32_t offset;
  const wchar_t* error_box;  // the sentence of the one error box, nullptr: no window at all
  std::uint32_t exit_code;
};

TEST(LauncherModesTest, OneRowPerOutcome) {
  const auto full = TokenKind::kFull;
  const auto limited = TokenKind::kLimited;
  const std::vector<std::wstring> verify = {L"--verify-payload"};
  const std::vector<std::wstring> elevated = {L"--portable-elevated"};
  const std::vector<std::wstring> cleanup_elevated = {L"--cleanup-elevated", kRunId};
  const wchar_t* const approval = message::kAdministratorApprovalRequired;
  // The payload as built; the Host and the last file removed; the first and a last byte
  // changed; damage met at a normal start; a missing run id and an unknown switch; the elevated
  // switches without rights. The deployment is not part of this build yet: the elevated start
  // says so plainly and never reports a run that did not happen.
  const ModeCase cases[] = {
      {verify, full, Damage::kNone, 0, 0, nullptr, 0},
      {verify, full, Damage::kRemove, 101, 0, nullptr, 1812},
      {verify, full, Damage::kRemove, 108, 0, nullptr, 1812},
      {verify, full, Damage::kFlip, 101, 0, nullptr, 13},
      {verify, full, Damage::kFlip, 107, kLastByte, nullptr, 13},
      {{}, full, Damage::kFlip, 104, 10, message::kVersionMismatch, 13},
      {{L"--cleanup"}, full, Damage::kNone, 0, 0, nullptr, 87},
      {{L"/cleanup", kRunId}, full, Damage::kNone, 0, 0, nullptr, 87},
      {elevated, limited, Damage::kNone, 0, 0, approval, 5},
      {cleanup_elevated, limited, Damage::kNone, 0, 0, approval, 5},
      {elevated, full, Damage::kNone, 0, 0, message::kDeploymentNotInThisBuild, 120},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments) + " resource " + std::to_string(c.resource));
    const LauncherCopy launcher(L"mode");
    if (c.damage == Damage::kRemove) {
      RemoveResource(launcher.path(), RT_RCDATA, c.resource);
    } else if (c.damage == Damage::kFlip) {
      FlipResourceByte(launcher.path(), c.resource, c.offset);
    }
    BoxScript script;
    if (c.error_box != nullptr) {
      script.ExpectOk(BoxIcon::kError, FailureBoxText(c.error_box, c.exit_code));
    }
    const ScriptedRun run = launcher.Run(c.arguments, std::move(script), c.token);
    EXPECT_TRUE(BoxesAsScripted(run));
    EXPECT_EQ(run.result.exit_code, c.exit_code);
  }
}

// The one test of the bench itself: a box that differs from its script is reported, so a
// passing script means something.
TEST(BoxReaderTest, BoxOtherThanScriptedIsReported) {
  const LauncherCopy launcher(L"reader");
  const ScriptedRun run = launcher.Run(
      {L"--portable-elevated"},
      BoxScript().ExpectOk(BoxIcon::kInformation, message::kAdministratorApprovalRequired),
      TokenKind::kLimited);
  ASSERT_EQ(run.violations.size(), 1u);
  EXPECT_NE(run.violations[0].find("box 1: icon=error buttons=ok text=\""), std::string::npos)
      << run.violations[0];
  EXPECT_NE(run.violations[0].find("expected icon=information"), std::string::npos);
  EXPECT_EQ(run.result.exit_code, 5u);
}

}  // namespace
}  // namespace vexo::test
