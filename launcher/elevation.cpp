#include "launcher/elevation.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/last_error.h"
#include "common/path.h"
#include "deploy/messages.h"
#include "launcher/launch_request.h"
#include "launcher/messages.h"
#include "run/run_id.h"
#include "system/process_wait.h"

namespace vexo {
namespace {

constexpr wchar_t kRunAsVerb[] = L"runas";

// The parameters of the elevated instance: the deployment switch, or the cleanup switch, one
// space and the run id. A run id is only ever 32 lower-case hex digits; anything else could
// smuggle further arguments into an elevated process, so it is refused here as well.
std::wstring ElevatedSwitchLine(const LaunchRequest& request) {
  if (request.mode != LaunchMode::kCleanupRequest) {
    return kSwitchPortableElevated;
  }
  const std::wstring& run_id = request.run_id;
  if (!IsRunId(run_id)) {
    ThrowFailure(message::kElevationCancelledOrFailed, error::kInvalidParameter);
  }
  std::wstring line = kSwitchCleanupElevated;
  line += L' ';
  line += run_id;
  return line;
}

}  // namespace

std::uint32_t RelaunchElevated(std::wstring_view launcher_path, const LaunchRequest& request) {
  const std::wstring parameters = ElevatedSwitchLine(request);
  const std::wstring file(launcher_path);
  const std::wstring directory = ParentPath(launcher_path);

  SHELLEXECUTEINFOW info{};
  static_assert(sizeof(info) == 112, "SHELLEXECUTEINFOW must have the x64 layout");
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.hwnd = nullptr;
  info.lpVerb = kRunAsVerb;
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = directory.c_str();
  info.nShow = SW_HIDE;
  if (!::ShellExecuteExW(&info)) {
    ThrowLastError(message::kElevationCancelledOrFailed);
  }
  const DWORD start_error = ::GetLastError();
  UniqueHandle process(info.hProcess);
  if (!process) {
    ThrowFailure(message::kElevatedStartUnconfirmed, start_error);
  }
  return WaitForProcessPumping(process.get(), kNoTimeLimit, message::kRemoteSupportWait);
}

}  // namespace vexo
