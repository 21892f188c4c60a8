// Administrator rights: the check, and the re-start through the consent prompt.
#pragma once

#include <cstdint>
#include <string_view>

#include "launcher/launch_request.h"

namespace vexo {

// True only when this process's token is elevated, the calling thread's effective token is a
// member of BUILTIN\Administrators and the token's integrity level is high (0x3000) or above.
// Every problem on the way gives false.
bool IsElevatedAdministrator() noexcept;

// Starts the launcher at `launcher_path` again through the "runas" verb (the Windows consent
// prompt) in the elevated form of `request`: "--portable-elevated" for a normal start,
// "--cleanup-elevated <run id>" for a cleanup request. Waits for it while dispatching window
// messages and returns its exit code. Throws Failure with the Windows error when the start
// fails or is declined (1223), and 87 for a run id that is not one.
std::uint32_t RelaunchElevated(std::wstring_view launcher_path, const LaunchRequest& request);

}  // namespace vexo
