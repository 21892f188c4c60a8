// Names of the two session-wide launcher locks. Portable, so the name rule is tested natively.
#pragma once

#include <cstdint>
#include <string>

namespace vexo {

enum class SessionLockKind {
  kLauncher,  // held by the launcher the customer started, for its whole life
  kKeeper,    // held by the instance that deploys and runs the Host or cleans up, around that
};

inline constexpr wchar_t kLauncherLockPrefix[] = L"Local\\VexoPortableLauncherSession";
inline constexpr wchar_t kKeeperLockPrefix[] = L"Local\\VexoPortableKeeperSession";

// The lock prefix directly followed by the session id in decimal (no separator, no leading
// zeros). `Local\` places the mutex in the session's own namespace.
std::wstring SessionLockName(std::uint32_t session_id, SessionLockKind kind);

}  // namespace vexo
