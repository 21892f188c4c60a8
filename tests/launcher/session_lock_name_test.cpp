// Names of the session locks: prefix directly followed by the decimal session id.
#include <gtest/gtest.h>

#include <string>

#include "launcher/session_lock_name.h"

namespace vexo {
namespace {

TEST(SessionLockNameTest, PrefixFollowedByDecimalSessionId) {
  const struct {
    std::uint32_t session_id;
    SessionLockKind kind;
    const wchar_t* expected;
  } cases[] = {
      {1, SessionLockKind::kLauncher, L"Local\\VexoPortableLauncherSession1"},
      {1, SessionLockKind::kKeeper, L"Local\\VexoPortableKeeperSession1"},
      {2, SessionLockKind::kLauncher, L"Local\\VexoPortableLauncherSession2"},
      {10, SessionLockKind::kKeeper, L"Local\\VexoPortableKeeperSession10"},
      {100, SessionLockKind::kLauncher, L"Local\\VexoPortableLauncherSession100"},
      {4294967295u, SessionLockKind::kKeeper, L"Local\\VexoPortableKeeperSession4294967295"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SessionLockName(c.session_id, c.kind), c.expected) << c.session_id;
  }
}

}  // namespace
}  // namespace vexo
