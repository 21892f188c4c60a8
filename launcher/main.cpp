// Process entry of the launcher: the whole life of a launcher process.
//
// The startup update gets the first word, then the command line is read once and one of five
// modes is chosen. Every mode but the payload check prepares the process (payload proof, own
// path, pins on the own folder chain and file), keeps one launcher per session, obtains
// administrator rights through the consent prompt when it lacks them, and hands the work to
// the deployment or the cleanup. This is the one place where a Failure becomes a message box
// and an exit code.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "cleanup/cleanup_command.h"
#include "common/chain_pin.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/failure_text.h"
#include "common/handles.h"
#include "common/launcher_path.h"
#include "common/path.h"
#include "launcher/elevation.h"
#include "launcher/launch_request.h"
#include "launcher/messages.h"
#include "launcher/product.h"
#include "launcher/session_lock.h"
#include "payload/deployment.h"
#include "payload/file_ops.h"
#include "payload/payload_check.h"
#include "update/update_entry.h"

namespace vexo {
namespace {

constexpr UINT kConfirmCleanupStyle = MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2;

// The main thread's COM apartment, ended when the entry returns.
class ComApartment {
 public:
  ComApartment() = default;
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialized_) {
      ::CoUninitialize();
    }
  }
  bool Initialize() {
    initialized_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    return initialized_;
  }

 private:
  bool initialized_ = false;
};

HWND FindHostWindow() {
  return ::FindWindowW(product::kHostWindowClass, nullptr);
}

void ShowMessage(const std::wstring& text, UINT icon) {
  ::MessageBoxW(nullptr, text.c_str(), product::kProductTitle, MB_OK | icon);
}

// Splits the process command line and reads the launch request; nullopt for a command line
// that cannot be split or has no known shape.
std::optional<LaunchRequest> ReadLaunchRequest() {
  int count = 0;
  const UniqueArgv argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!argv || count < 1) {
    return std::nullopt;
  }
  std::vector<std::wstring> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    arguments.emplace_back(argv.get()[i]);
  }
  return ParseLaunchRequest(arguments);
}

// --verify-payload: the payload proof only, reported through the exit code alone.
std::uint32_t RunPayloadCheckMode() {
  try {
    VerifyEmbeddedPayload();
    return 0;
  } catch (const Failure& failure) {
    return failure.code;
  } catch (...) {
    return error::kInvalidData;
  }
}

// The deployment or the cleanup, under the keeper lock, which is released right after.
std::uint32_t RunWorkUnderKeeperLock(const std::wstring& run_id) {
  SessionLock keeper_lock;
  AcquireSessionLock(keeper_lock, /*keeper=*/true);
  return run_id.empty() ? RunDeployment() : RunCleanupCommand(run_id);
}

std::uint32_t RunElevatedMode(const LaunchRequest& request) {
  if (!IsElevatedAdministrator()) {
    ThrowFailure(message::kAdministratorApprovalRequired, error::kAccessDenied);
  }
  return RunWorkUnderKeeperLock(request.run_id);
}

// A normal start while a Host runs leads the customer back to that Host's window.
void RefuseWhileHostRuns() {
  if (FindHostWindow() == nullptr) {
    return;
  }
  BringHostWindowForward();
  ThrowFailure(message::kCloseExistingHostFirst, error::kAlreadyExists);
}

bool ConfirmCleanup() {
  return ::MessageBoxW(nullptr, message::kCleanupConfirmation, product::kProductTitle,
                       kConfirmCleanupStyle) == IDYES;
}

// Normal start and --cleanup: the launcher lock for the whole rest of the process, then the
// work here when already elevated, or in an elevated instance started through the consent
// prompt, whose exit code becomes ours.
std::uint32_t RunUnelevatedMode(const std::wstring& launcher_path, const LaunchRequest& request) {
  SessionLock launcher_lock;
  AcquireSessionLock(launcher_lock, /*keeper=*/false);
  if (request.mode == LaunchMode::kNormalStart) {
    RefuseWhileHostRuns();
  } else if (!ConfirmCleanup()) {
    return error::kCancelled;
  }
  if (IsElevatedAdministrator()) {
    return RunWorkUnderKeeperLock(request.run_id);
  }
  return RelaunchElevated(launcher_path, request.run_id);
}

// Preparation and the mode's work. Everything made here is released in reverse order of
// making when this returns or a failure passes: locks, then the file pin, then the folder
// chain pins, then the path.
std::uint32_t RunPreparedMode(const LaunchRequest& request) {
  VerifyEmbeddedPayload();
  const std::wstring launcher_path = GetLauncherPath();
  const DirectoryChainPin folder_pin =
      PinFolderChain(ParentPath(launcher_path), /*check_security=*/false);
  const UniqueHandle file_pin = PinFileForReading(launcher_path, /*strict=*/false);
  if (IsElevatedMode(request.mode)) {
    return RunElevatedMode(request);
  }
  return RunUnelevatedMode(launcher_path, request);
}

// Turns every failure of the prepared modes into one message box and the exit code. By the
// time a box is shown, every lock and pin of the run has been released.
std::uint32_t RunPreparedModeShowingFailures(const LaunchRequest& request) {
  try {
    return RunPreparedMode(request);
  } catch (const Failure& failure) {
    if (failure.code == error::kCancelled) {
      return failure.code;
    }
    const UINT icon = failure.code == error::kAlreadyExists ? MB_ICONINFORMATION : MB_ICONERROR;
    ShowMessage(FormatFailureText(failure), icon);
    return failure.code;
  } catch (const std::exception&) {
    ShowMessage(message::kUnexpectedError, MB_ICONERROR);
    return error::kInvalidData;
  }
}

std::uint32_t RunLauncher() {
  const bool host_window_found = FindHostWindow() != nullptr;

  std::uint32_t worker_exit_code = 0;
  if (TryRunUpdateWorker(product::kProgramRole, product::kProgramVersion, worker_exit_code)) {
    return worker_exit_code;
  }
  if (!host_window_found && RunStartupUpdate(product::kProgramRole, product::kProgramVersion,
                                             product::kMinimumManifestSequence)) {
    return 0;
  }

  const std::optional<LaunchRequest> request = ReadLaunchRequest();
  if (!request) {
    return error::kInvalidParameter;
  }
  if (!::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return error::kAccessDenied;
  }
  if (request->mode == LaunchMode::kVerifyPayload) {
    return RunPayloadCheckMode();
  }

  ComApartment com;
  if (!com.Initialize()) {
    return error::kComFailure;
  }
  return RunPreparedModeShowingFailures(*request);
}

}  // namespace
}  // namespace vexo

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return static_cast<int>(vexo::RunLauncher());
}
