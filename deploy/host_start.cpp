#include "deploy/host_start.h"

#include "common/crash_point.h"
#include "common/failure.h"
#include "common/path.h"
#include "common/product.h"
#include "deploy/host_environment.h"
#include "deploy/messages.h"
#include "system/job_process.h"
#include "system/process_wait.h"

namespace vexo {
namespace {

// The quoted executable path, then one space and the arguments when there are any.
std::wstring HostCommandLine(const std::wstring& host_path, const std::wstring& arguments) {
  std::wstring line = L"\"" + host_path + L"\"";
  if (!arguments.empty()) {
    line += L' ';
    line += arguments;
  }
  return line;
}

}  // namespace

std::uint32_t StartHost(const std::wstring& run_folder,
                        const std::wstring& arguments,
                        HostSupervision supervision) {
  const std::wstring host_path = JoinPath(run_folder, product::kHostFileName);
  const bool supervised = supervision == HostSupervision::kOn;
  const JobProcess host = StartProcessInJob(
      host_path, HostCommandLine(host_path, arguments), run_folder, HostEnvironmentBlock(),
      supervised ? ProcessWindow::kNormal : ProcessWindow::kNone, message::kHostStart);
  CrashPoint(L"deploy-host-started");
  try {
    return WaitForProcessPumping(host.process(),
                                 supervised ? kNoTimeLimit : kHostPreparationLimitMs,
                                 message::kRemoteSupportWait);
  } catch (const Failure&) {
    host.Abort();
    throw;
  }
}

}  // namespace vexo
