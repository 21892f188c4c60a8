// The launch request: the one reading of the command line that picks the process's mode.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/switches.h"
#include "run/run_id.h"

namespace vexo {

enum class LaunchMode {
  kNormalStart,      // no arguments
  kElevatedStart,    // --portable-elevated
  kVerifyPayload,    // --verify-payload
  kCleanupRequest,   // --cleanup <run id>
  kElevatedCleanup,  // --cleanup-elevated <run id>
};

struct LaunchRequest {
  LaunchMode mode;
  std::wstring run_id;  // empty for deployment, the run to clean up otherwise
};

// Reads the split command line (the program itself first). Switches are compared exactly
// and case-sensitively; any shape other than the five modes gives nullopt.
std::optional<LaunchRequest> ParseLaunchRequest(std::span<const std::wstring> arguments);

bool IsElevatedMode(LaunchMode mode) noexcept;

}  // namespace vexo
