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

// The five modes, and one refused row per way a command line can differ from them; which
// modes need rights is shown end to end.
TEST(LaunchRequestTest, Shapes) {
  const std::pair<std::vector<std::wstring>, std::optional<LaunchMode>> cases[] = {
      {{}, LaunchMode::kNormalStart},
      {{L"--portable-elevated"}, LaunchMode::kElevatedStart},
      {{L"--verify-payload"}, LaunchMode::kVerifyPayload},
      {{L"--cleanup", kId}, LaunchMode::kCleanupRequest},
      {{L"--cleanup-elevated", kId}, LaunchMode::kElevatedCleanup},
      {{L"--cleanup"}, std::nullopt},
      {{L"--cleanup", L"0123456789ABCDEF0123456789abcdef"}, std::nullopt},
      {{L"--cleanup", L"0123456789abcdef0123456789abcde"}, std::nullopt},
      {{L"--cleanup", L"0123456789abcdef0123456789abcdef0"}, std::nullopt},
      {{L"--cleanup", L"0123456789abcdeg0123456789abcdef"}, std::nullopt},
      {{L"--cleanup", kId, L"x"}, std::nullopt},
      {{L"--Verify-Payload"}, std::nullopt},
      {{L"--vexo-update-worker", L"12"}, std::nullopt},
      {{L"/cleanup", kId}, std::nullopt},
      {{L""}, std::nullopt},
  };
  for (const auto& [tail, mode] : cases) {
    std::vector<std::wstring> arguments{L"C:\\dl\\Vexo-Host.exe"};
    arguments.insert(arguments.end(), tail.begin(), tail.end());
    const auto request = ParseLaunchRequest(arguments);
    ASSERT_EQ(request.has_value(), mode.has_value()) << testing::PrintToString(tail);
    if (request) {
      EXPECT_EQ(request->mode, *mode);
      EXPECT_EQ(request->run_id, tail.size() == 2 ? kId : L"");
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
