// Names of the session locks: prefix directly followed by the decimal session id.
#include <gtest/gtest.h>

#include <string>

#include "launcher/session_lock_name.h"

namespace vexo {
namespace {

TEST(SessionLockNameTest, PrefixFollowedByDecimalSessionId) {
  const struct {
    std::uint32_t session_id;
    bool keeper;
    const wchar_t* expected;
  } cases[] = {
      {1, false, L"Local\\VexoPortableLauncherSession1"},
      {1, true, L"Local\\VexoPortableKeeperSession1"},
      {2, false, L"Local\\VexoPortableLauncherSession2"},
      {10, true, L"Local\\VexoPortableKeeperSession10"},
      {100, false, L"Local\\VexoPortableLauncherSession100"},
      {4294967295u, true, L"Local\\VexoPortableKeeperSession4294967295"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SessionLockName(c.session_id, c.keeper), c.expected)
        << c.session_id << " keeper=" << c.keeper;
  }
}

}  // namespace
}  // namespace vexo
