#include "launcher/launch_request.h"

namespace vexo {
namespace {

struct SwitchShape {
  const wchar_t* text;
  LaunchMode mode;
  bool takes_run_id;
};

constexpr SwitchShape kSwitchShapes[] = {
    {kSwitchPortableElevated, LaunchMode::kElevatedStart, false},
    {kSwitchVerifyPayload, LaunchMode::kVerifyPayload, false},
    {kSwitchCleanup, LaunchMode::kCleanupRequest, true},
    {kSwitchCleanupElevated, LaunchMode::kElevatedCleanup, true},
};

}  // namespace

std::optional<LaunchRequest> ParseLaunchRequest(std::span<const std::wstring> arguments) {
  if (arguments.empty() || arguments.size() > 3) {
    return std::nullopt;
  }
  if (arguments.size() == 1) {
    return LaunchRequest{LaunchMode::kNormalStart, std::wstring()};
  }
  const std::wstring& mode_switch = arguments[1];
  const std::wstring run_id = arguments.size() == 3 ? arguments[2] : std::wstring();
  for (const SwitchShape& shape : kSwitchShapes) {
    if (mode_switch != shape.text) {
      continue;
    }
    const bool shape_fits = shape.takes_run_id ? IsRunId(run_id) : arguments.size() == 2;
    if (!shape_fits) {
      return std::nullopt;
    }
    return LaunchRequest{shape.mode, run_id};
  }
  return std::nullopt;
}

bool IsElevatedMode(LaunchMode mode) noexcept {
  return mode == LaunchMode::kElevatedStart || mode == LaunchMode::kElevatedCleanup;
}

}  // namespace vexo
