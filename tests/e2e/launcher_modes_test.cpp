// The real launcher under Wine: payload check mode, damaged payloads, command-line shapes
// and the elevated switch without rights.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/launcher_test_support.h"
#include "tests/support/resource_patcher.h"

namespace vexo::test {
namespace {

constexpr wchar_t kRunId[] = L"0123456789abcdef0123456789abcdef";

TEST(LauncherModesTest, VerifyPayloadPassesSilently) {
  const LauncherCopy launcher(L"verify");
  const ScriptedRun run = launcher.Run({L"--verify-payload"});
  EXPECT_TRUE(BoxesAsScripted(run));
  EXPECT_FALSE(run.result.timed_out);
  EXPECT_EQ(run.result.exit_code, 0u);
}

struct DamageCase {
  const char* name;
  bool remove;  // remove the resource, or change one byte of it
  std::uint16_t resource_id;
  std::uint32_t offset;
  std::uint32_t exit_code;
};

TEST(LauncherModesTest, DamagedPayloadIsRefusedSilently) {
  const DamageCase cases[] = {
      {"bold-extra font removed", true, 105, 0, 1812},
      {"Host removed", true, 101, 0, 1812},
      {"licence text removed", true, 108, 0, 1812},
      {"regular font, one byte changed", false, 103, 1000, 13},
      {"Host, first byte changed", false, 101, 0, 13},
      {"font notice, last byte changed", false, 107, 0xFFFFFFFF, 13},
  };
  for (const DamageCase& c : cases) {
    const LauncherCopy launcher(L"damaged");
    if (c.remove) {
      RemoveResource(launcher.path(), RT_RCDATA, c.resource_id);
      ASSERT_FALSE(HasResource(launcher.path(), RT_RCDATA, c.resource_id)) << c.name;
    } else {
      const auto size = ReadResource(launcher.path(), RT_RCDATA, c.resource_id).size();
      const std::uint32_t offset =
          c.offset == 0xFFFFFFFF ? static_cast<std::uint32_t>(size - 1) : c.offset;
      FlipResourceByte(launcher.path(), c.resource_id, offset);
    }
    const ScriptedRun run = launcher.Run({L"--verify-payload"});
    EXPECT_TRUE(BoxesAsScripted(run)) << c.name;
    EXPECT_EQ(run.result.exit_code, c.exit_code) << c.name;
  }
}

TEST(LauncherModesTest, DamagedPayloadStopsANormalStartWithAMessage) {
  const LauncherCopy launcher(L"damaged-start");
  FlipResourceByte(launcher.path(), 104, 10);
  BoxScript script;
  script.ExpectOk(BoxIcon::kError,
                  FailureBoxText(L"내장 파일이 현재 실행 파일의 버전과 일치하지 않아 실행 또는 "
                                 L"정리하지 않습니다.",
                                 13));
  const ScriptedRun run = launcher.Run({}, std::move(script));
  EXPECT_TRUE(BoxesAsScripted(run));
  EXPECT_EQ(run.result.exit_code, 13u);
}

TEST(LauncherModesTest, WrongShapesEndWith87AndNoWindow) {
  const std::vector<std::vector<std::wstring>> shapes = {
      {L"--cleanup"},
      {L"--cleanup-elevated"},
      {L"--cleanup", L"0123456789ABCDEF0123456789abcdef"},
      {L"--cleanup", L"0123456789abcdef0123456789abcde"},
      {L"--cleanup", L"0123456789abcdef0123456789abcdef0"},
      {L"--cleanup", kRunId, L"extra"},
      {L"--cleanup-elevated", kRunId, L"x", L"y"},
      {L"--portable-elevated", kRunId},
      {L"--verify-payload", L"now"},
      {L"--Verify-Payload"},
      {L"--uninstall"},
      {L"/cleanup", kRunId},
      {L""},
  };
  for (const auto& arguments : shapes) {
    const LauncherCopy launcher(L"shape");
    const ScriptedRun run = launcher.Run(arguments);
    EXPECT_TRUE(BoxesAsScripted(run)) << testing::PrintToString(arguments);
    EXPECT_EQ(run.result.exit_code, 87u) << testing::PrintToString(arguments);
  }
}

TEST(LauncherModesTest, ElevatedSwitchesWithoutRightsAreRefused) {
  const std::vector<std::vector<std::wstring>> switches = {
      {L"--portable-elevated"},
      {L"--cleanup-elevated", kRunId},
  };
  for (const auto& arguments : switches) {
    const LauncherCopy launcher(L"no-rights");
    BoxScript script;
    script.ExpectOk(BoxIcon::kError, FailureBoxText(L"Windows 관리자 승인이 필요합니다.", 5));
    const ScriptedRun run = launcher.Run(arguments, std::move(script), TokenKind::kLimited);
    EXPECT_TRUE(BoxesAsScripted(run)) << testing::PrintToString(arguments);
    EXPECT_EQ(run.result.exit_code, 5u) << testing::PrintToString(arguments);
  }
}

// The deployment is not part of this build yet: an elevated start says so plainly and never
// reports a run that did not happen.
TEST(LauncherModesTest, ElevatedStartReportsTheMissingDeployment) {
  const LauncherCopy launcher(L"elevated");
  BoxScript script;
  script.ExpectOk(BoxIcon::kError,
                  FailureBoxText(L"이 실행 파일에는 아직 Host 배포 기능이 포함되어 있지 않습니다.",
                                 ERROR_CALL_NOT_IMPLEMENTED));
  const ScriptedRun run = launcher.Run({L"--portable-elevated"}, std::move(script));
  EXPECT_TRUE(BoxesAsScripted(run));
  EXPECT_EQ(run.result.exit_code, static_cast<std::uint32_t>(ERROR_CALL_NOT_IMPLEMENTED));
}

}  // namespace
}  // namespace vexo::test
