// Starting the deployed Host from its run folder and waiting for its end.
#pragma once

#include <cstdint>
#include <string>

namespace vexo {

// Time the Host's preparation run (--uac-install) is given to end.
inline constexpr std::uint32_t kHostPreparationLimitMs = 30000;

enum class HostSupervision {
  kOff,  // preparation: no window, ends within kHostPreparationLimitMs
  kOn,   // remote support: normal window, waited for without limit
};

// Starts "<run folder>\Vexo-Host.exe" (quoted, then one space and `arguments` when they are not
// empty) in the run folder, with HostEnvironmentBlock() as its environment, inside a
// kill-on-close job, and returns its exit code once it has
// ended. Every process the Host left in the job has ended too when this returns or fails. A
// start or wait that fails after the process exists aborts it (exit code 1067). Throws Failure.
std::uint32_t StartHost(const std::wstring& run_folder,
                        const std::wstring& arguments,
                        HostSupervision supervision);

}  // namespace vexo
