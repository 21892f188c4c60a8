// Administrator rights through the consent prompt: the re-start of the launcher, elevated.
#pragma once

#include <cstdint>
#include <string_view>

#include "launcher/launch_request.h"
#include "system/administrator.h"

namespace vexo {

// Starts the launcher at `launcher_path` again through the "runas" verb (the Windows consent
// prompt) in the elevated form of `request`: "--portable-elevated" for a normal start,
// "--cleanup-elevated <run id>" for a cleanup request. Waits for it while dispatching window
// messages and returns its exit code. Throws Failure with the Windows error when the start
// fails or is declined (1223), and 87 for a run id that is not one.
std::uint32_t RelaunchElevated(std::wstring_view launcher_path, const LaunchRequest& request);

}  // namespace vexo
