// The work of an elevated launcher in launch mode.
#pragma once

#include <cstdint>

namespace vexo {

// Deploys the payload into a new run folder, runs the Host to its end and removes the run
// again; returns the launcher's exit code.
std::uint32_t RunDeployment();

}  // namespace vexo
