// Administrator rights: the check, the re-start through the consent prompt, and the wait
// that keeps the waiting thread responsive to window messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>

namespace vexo {

// Time limit of WaitForProcessPumping that means "wait as long as it takes".
inline constexpr std::uint32_t kNoTimeLimit = 0xFFFFFFFF;

// True only when this process's token is elevated, the calling thread's effective token is
// a member of BUILTIN\Administrators and the token's integrity level is high (0x3000) or
// above. Every problem on the way gives false.
bool IsElevatedAdministrator() noexcept;

// Starts the launcher at `launcher_path` again through the "runas" verb (the Windows consent
// prompt) with "--portable-elevated" (empty `run_id`) or "--cleanup-elevated <run_id>",
// waits for it while dispatching window messages, and returns its exit code. Throws Failure
// with the Windows error when the start fails or is declined (1223).
std::uint32_t RelaunchElevated(std::wstring_view launcher_path, std::wstring_view run_id);

// Waits for `process` to end, dispatching the thread's queued messages at least every 250 ms,
// and returns its exit code. With a limit other than kNoTimeLimit, a process still running
// after `limit_ms` milliseconds gives Failure 1460. The handle stays open.
std::uint32_t WaitForProcessPumping(HANDLE process, std::uint32_t limit_ms);

}  // namespace vexo
