// The startup update's two doors into the launcher entry.
#pragma once

#include <cstdint>

namespace vexo {

// True when this process was started as an update worker; `exit_code` then holds the
// worker's exit code and the process must end with it.
bool TryRunUpdateWorker(const char* role, const char* version, std::uint32_t& exit_code);

// True when an update worker has taken over and this process must end with 0 at once.
// False means no update now, for whatever reason; the launch goes on.
bool RunStartupUpdate(const char* role,
                      const char* current_version,
                      std::uint64_t minimum_sequence);

}  // namespace vexo
