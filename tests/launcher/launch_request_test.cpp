// Command-line shapes and the modes they select, and the names of the session locks.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "launcher/launch_request.h"
#include "launcher/session_lock_name.h"

namespace vexo {
namespace {

constexpr wchar_t kId[] = L"0123456789abcdef0123456789abcdef";

TEST(LaunchRequestTest, Shapes) {
  const struct {
    std::vector<std::wstring> arguments;  // after the program itself
    std::optional<LaunchMode> mode;       // nothing: refused
    bool elevated;
  } cases[] = {
      {{}, LaunchMode::kNormalStart, false},
      {{L"--portable-elevated"}, LaunchMode::kElevatedStart, true},
      {{L"--verify-payload"}, LaunchMode::kVerifyPayload, false},
      {{L"--cleanup", kId}, LaunchMode::kCleanupRequest, false},
      {{L"--cleanup-elevated", kId}, LaunchMode::kElevatedCleanup, true},
      {{L"--cleanup"}, std::nullopt, false},
      {{L"--cleanup-elevated"}, std::nullopt, false},
      {{L"--cleanup", L"0123456789ABCDEF0123456789abcdef"}, std::nullopt, false},
      {{L"--cleanup", L"0123456789abcdef0123456789abcde"}, std::nullopt, false},
      {{L"--cleanup", L"0123456789abcdef0123456789abcdef0"}, std::nullopt, false},
      {{L"--cleanup", L"0123456789abcdeg0123456789abcdef"}, std::nullopt, false},
      {{L"--cleanup", kId, L"x"}, std::nullopt, false},
      {{L"--portable-elevated", kId}, std::nullopt, false},
      {{L"--verify-payload", L"x"}, std::nullopt, false},
      {{L"--Verify-Payload"}, std::nullopt, false},
      {{L"--verify-payload "}, std::nullopt, false},
      {{L"--vexo-update-worker", L"12"}, std::nullopt, false},
      {{L"/cleanup", kId}, std::nullopt, false},
      {{L""}, std::nullopt, false},
  };
  for (const auto& c : cases) {
    const std::string label = testing::PrintToString(c.arguments);
    std::vector<std::wstring> arguments{L"C:\\dl\\Vexo-Host.exe"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const auto request = ParseLaunchRequest(arguments);
    ASSERT_EQ(request.has_value(), c.mode.has_value()) << label;
    if (request) {
      EXPECT_EQ(request->mode, *c.mode) << label;
      EXPECT_EQ(request->run_id, c.arguments.size() == 2 ? kId : L"") << label;
      EXPECT_EQ(IsElevatedMode(request->mode), c.elevated) << label;
    }
  }
  EXPECT_FALSE(ParseLaunchRequest(std::vector<std::wstring>{}).has_value());
}

TEST(SessionLockNameTest, PrefixFollowedByDecimalSessionId) {
  EXPECT_EQ(SessionLockName(1, SessionLockKind::kLauncher), L"Local\\VexoPortableLauncherSession1");
  EXPECT_EQ(SessionLockName(10, SessionLockKind::kKeeper), L"Local\\VexoPortableKeeperSession10");
  EXPECT_EQ(SessionLockName(4294967295u, SessionLockKind::kKeeper),
            L"Local\\VexoPortableKeeperSession4294967295");
}

}  // namespace
}  // namespace vexo
