// The --cleanup command: removes what one run left behind.
#pragma once

#include <cstdint>
#include <string>

namespace vexo {

// Returns 0 after success; every other outcome is a Failure.
std::uint32_t RunCleanupCommand(const std::wstring& run_id);

}  // namespace vexo
