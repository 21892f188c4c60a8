// The startup check: asks the update server for a newer program of this role, verifies and
// stages it beside the program, and hands over to an update worker started from a copy of
// this program, which replaces the program file once this process has ended. The staging
// folders of earlier updates are its only memory: finished ones are swept, and a release that
// already failed here is not tried again (update/staging_sweep_win.h).
//
// An elevated process never updates: the staging folder is writable by the user, and a
// program of the user could swap the staged copy (or put a DLL beside it) between the check
// and the worker's start and so have its code run elevated.
#include <windows.h>

#include <shellapi.h>

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/crash_point.h"
#include "common/handles.h"
#include "common/hex.h"
#include "common/path.h"
#include "update/executable_header.h"
#include "update/http_client_win.h"
#include "update/manifest.h"
#include "update/manifest_verify_win.h"
#include "update/plan.h"
#include "update/role.h"
#include "update/staging_sweep_win.h"
#include "update/update_entry.h"
#include "update/update_error.h"
#include "update/update_files_win.h"
#include "update/update_names.h"
#include "update/version.h"

namespace vexo {
namespace {

constexpr DWORD kWorkerReadyWaitMs = 15000;

// The provider's header text, overwritten with zeros before its memory goes, on every path. The
// text is made in place (no moved-from copy is left behind) and zeroed over its whole capacity.
class ZeroedText {
 public:
  explicit ZeroedText(const UpdateHeaderProvider& provider)
      : text_(provider ? provider() : std::wstring()) {}
  ZeroedText(const ZeroedText&) = delete;
  ZeroedText& operator=(const ZeroedText&) = delete;
  ~ZeroedText() { ::SecureZeroMemory(text_.data(), text_.capacity() * sizeof(wchar_t)); }
  std::wstring_view get() const noexcept { return text_; }

 private:
  std::wstring text_;
};

// Reads the recovery marker and always deletes it, so no child inherits it. True when it
// names this program's own file: a worker has just started it, and it must not update again.
bool TakeRecoveryMarkerFor(const std::wstring& program_path) {
  std::array<wchar_t, kRecoveryBufferChars> marker{};
  const DWORD length =
      ::GetEnvironmentVariableW(kRecoveryVariable, marker.data(), kRecoveryBufferChars);
  ::SetEnvironmentVariableW(kRecoveryVariable, nullptr);
  return length >= 1 && length < kRecoveryBufferChars &&
         std::wstring_view(marker.data(), length) == WidenAscii(FileSha256Hex(program_path));
}

// The saved arguments, or nothing when this start has arguments the role does not carry.
std::optional<std::string> SavedArgumentsOfThisStart(std::string_view role) {
  int count = 0;
  const UniqueArgv argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!argv || count < 1) {
    return std::nullopt;
  }
  std::vector<std::wstring> arguments(argv.get() + 1, argv.get() + count);
  return SavedArgumentsFor(role, arguments);
}

// The downloaded program: exactly the promised size and digest, and an x64 program.
void CheckDownloadedProgram(const std::vector<std::uint8_t>& program,
                            const VerifiedManifest& manifest) {
  RequireUpdate(program.size() == manifest.bytes);
  RequireUpdate(Sha256Hex(program) == manifest.sha256);
  CheckWindowsX64Executable(program);
}

UniqueHandle CreateReadyEvent(const std::wstring& staging_folder_name) {
  UniqueHandle event(
      ::CreateEventW(nullptr, TRUE, FALSE, ReadyEventName(staging_folder_name).c_str()));
  RequireUpdate(event.valid() && ::GetLastError() != ERROR_ALREADY_EXISTS);
  return event;
}

struct StartedProcess {
  UniqueHandle process;
  UniqueHandle thread;
};

StartedProcess StartWorker(const std::wstring& worker_path, const std::wstring& staging_folder) {
  std::wstring command_line = L"\"" + worker_path + L"\" " + kUpdateWorkerSwitch + L" " +
                              std::to_wstring(::GetCurrentProcessId());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  RequireUpdate(::CreateProcessW(worker_path.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                                 CREATE_NO_WINDOW, nullptr, staging_folder.c_str(), &startup,
                                 &started) != FALSE);
  return {UniqueHandle(started.hProcess), UniqueHandle(started.hThread)};
}

// True only when the worker set the ready event (the first handle wins a tie).
bool WorkerTookOver(HANDLE ready_event, HANDLE worker) {
  const std::array<HANDLE, 2> handles{ready_event, worker};
  return ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                  kWorkerReadyWaitMs) == WAIT_OBJECT_0;
}

// The saved arguments when this start may update at all: the program has its role's name, was
// not started by a worker with its own hash as marker, is not elevated, and has no arguments but
// its role's switch. Nothing otherwise.
std::optional<std::string> UpdateAllowedForThisStart(std::string_view role,
                                                     const std::wstring& program_path) {
  if (!ExecutableMatchesRole(role, program_path) || TakeRecoveryMarkerFor(program_path) ||
      IsCurrentProcessElevated()) {
    return std::nullopt;
  }
  return SavedArgumentsOfThisStart(role);
}

// Fills the staging folder: the downloaded program as "new.exe", a verified copy of this program
// to run the worker from, and the plan. Returns the copy's path.
std::wstring StageFiles(const std::wstring& staging_folder,
                        const std::wstring& program_path,
                        const std::vector<std::uint8_t>& program,
                        const UpdatePlan& plan) {
  WriteNewFile(JoinPath(staging_folder, kNewProgramFileName), program);
  CrashPoint(L"stage-new");
  const std::wstring worker_path = JoinPath(staging_folder, FileName(program_path));
  RequireUpdate(::CopyFileW(program_path.c_str(), worker_path.c_str(), TRUE) != FALSE);
  RequireUpdate(FileSha256Hex(worker_path) == plan.old_hash);
  CrashPoint(L"stage-worker-copy");
  WriteNewFile(JoinPath(staging_folder, kPlanFileName), UpdatePlanText(plan));
  CrashPoint(L"stage-plan");
  return worker_path;
}

// A staging folder this check made: removed again, when it is idle and holds only what the
// launcher writes, unless a worker was started from it.
class NewStagingFolder {
 public:
  NewStagingFolder(std::wstring path, std::wstring program_name)
      : path_(std::move(path)), program_name_(std::move(program_name)) {
    CreateStagingFolder(path_);
    CrashPoint(L"stage-folder");
  }
  NewStagingFolder(const NewStagingFolder&) = delete;
  NewStagingFolder& operator=(const NewStagingFolder&) = delete;
  ~NewStagingFolder() {
    if (!handed_over_) {
      RemoveStagingFolder(path_, program_name_);
    }
  }
  void HandOver() noexcept { handed_over_ = true; }

 private:
  std::wstring path_;
  std::wstring program_name_;
  bool handed_over_ = false;
};

bool CheckStageAndHandOver(const UpdateFetch& fetch,
                           std::string_view role,
                           std::string_view current_version,
                           std::uint64_t minimum_sequence,
                           const UpdateHeaderProvider& header_provider) {
  const std::wstring program_path = CurrentModulePath();
  const std::optional<std::string> saved_arguments = UpdateAllowedForThisStart(role, program_path);
  if (!saved_arguments) {
    return false;
  }
  const std::wstring program_folder = ParentPath(program_path);
  SweepFinishedStagingFolders(program_folder, FileName(program_path));
  const ZeroedText header(header_provider);
  const std::string manifest_text = BytesAsText(
      fetch(std::string(kManifestRequestPrefix).append(role), kMaxManifestBytes, header.get()));
  const VerifiedManifest manifest =
      VerifyUpdateManifest(manifest_text, role, current_version, minimum_sequence);
  if (CompareVersions(ParseVersion(manifest.version), ParseVersion(current_version)) <= 0 ||
      ReleaseFailedHere(program_folder, manifest.sha256)) {
    return false;
  }

  // The staging folder comes first: where it cannot be made, nothing is downloaded.
  const FolderRootPin program_folder_pin = PinFolderToRoot(program_folder);
  const std::wstring staging_name = StagingFolderName(RandomHex32());
  const std::wstring staging_folder = JoinPath(program_folder, staging_name);
  NewStagingFolder staging(staging_folder, FileName(program_path));
  const FolderRootPin staging_pin = PinFolderToRoot(staging_folder);
  const std::vector<std::uint8_t> program = fetch(manifest.path, manifest.bytes, header.get());
  CheckDownloadedProgram(program, manifest);
  const std::optional<std::string> target = NarrowAscii(FileName(program_path));
  RequireUpdate(target.has_value());
  const UpdatePlan plan{*saved_arguments,
                        manifest_text,
                        FileSha256Hex(program_path),
                        ProcessCreationTime(::GetCurrentProcess()),
                        std::string(role),
                        *target};
  const std::wstring worker_path = StageFiles(staging_folder, program_path, program, plan);

  const UniqueHandle ready_event = CreateReadyEvent(staging_name);
  CrashPoint(L"stage-event");
  const StartedProcess worker = StartWorker(worker_path, staging_folder);
  staging.HandOver();
  CrashPoint(L"stage-worker-started");
  return WorkerTookOver(ready_event.get(), worker.process.get());
}

}  // namespace

bool RunStartupUpdateWith(const UpdateFetch& fetch,
                          const char* role,
                          const char* current_version,
                          std::uint64_t minimum_sequence,
                          const UpdateHeaderProvider& header_provider) {
  try {
    return CheckStageAndHandOver(fetch, role, current_version, minimum_sequence, header_provider);
  } catch (...) {
    return false;
  }
}

bool RunStartupUpdate(const char* role,
                      const char* current_version,
                      std::uint64_t minimum_sequence,
                      const UpdateHeaderProvider& header_provider) {
  return RunStartupUpdateWith(UpdateHttpGet, role, current_version, minimum_sequence,
                              header_provider);
}

}  // namespace vexo
