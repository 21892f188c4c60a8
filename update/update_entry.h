// The startup update's two doors into the launcher entry. Neither ever throws or shows
// anything: a failed update is silent and the launch goes on.
#pragma once

#include <cstdint>
#include <string>

#include "update/update_fetch.h"

namespace vexo {

// True when this process was started as an update worker (`--vexo-update-worker` as its
// first argument); `exit_code` then holds the worker's exit code (0, 1 or 13) and the process
// must end with it. False, with `exit_code` untouched, in every other start.
bool TryRunUpdateWorker(const char* role, const char* version, std::uint32_t& exit_code);

// True when an update worker has taken over and this process must end with 0 at once.
// False means no update now, for whatever reason; the launch goes on.
bool RunStartupUpdate(const char* role,
                      const char* current_version,
                      std::uint64_t minimum_sequence,
                      const UpdateHeaderProvider& header_provider = {});

// RunStartupUpdate with another way to the update server.
bool RunStartupUpdateWith(const UpdateFetch& fetch,
                          const char* role,
                          const char* current_version,
                          std::uint64_t minimum_sequence,
                          const UpdateHeaderProvider& header_provider);

// The worker's update against the parent `parent_id`: 0 when the new program came up, 1 when
// it was rolled back. Every failure raises (TryRunUpdateWorker turns it into 13).
std::uint32_t RunUpdateWorker(const char* role, const char* version, std::uint32_t parent_id);

// Starts `program_path` with `arguments` and, when not empty, `recovery_value` as the recovery
// marker. True when the program came up: still running after 3 s, or ended with 0 by then.
bool RelaunchProgram(const std::wstring& program_path,
                     const std::wstring& arguments,
                     const std::wstring& recovery_value);

}  // namespace vexo
