// The update worker: started from the copy of the program in the staging folder, it checks
// everything the startup check prepared, tells the check it has taken over, waits for the
// old program to end, swaps the program file (update/program_swap_win.h), starts the new
// program and puts the old one back when the new one is not the promised file or does not
// come up.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "common/crash_point.h"
#include "common/handles.h"
#include "common/ordinal_compare.h"
#include "common/path.h"
#include "update/executable_header.h"
#include "update/manifest.h"
#include "update/manifest_verify_win.h"
#include "update/plan.h"
#include "update/program_swap_win.h"
#include "update/role.h"
#include "update/update_entry.h"
#include "update/update_error.h"
#include "update/update_files_win.h"
#include "update/update_names.h"
#include "update/version.h"

namespace vexo {
namespace {

constexpr std::uint32_t kWorkerExitUpdated = 0;
constexpr std::uint32_t kWorkerExitRolledBack = 1;
constexpr std::uint32_t kWorkerExitFailed = 13;
constexpr std::uint64_t kWorkerMinimumSequence = 1;
constexpr DWORD kParentAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
constexpr DWORD kParentExitWaitMs = 45000;
constexpr DWORD kCameUpWaitMs = 3000;

std::wstring ProcessImagePath(HANDLE process) {
  std::wstring image(kLongPathCapacity, L'\0');
  DWORD size = kLongPathCapacity;
  RequireUpdate(::QueryFullProcessImageNameW(process, 0, image.data(), &size) != FALSE);
  image.resize(size);
  return image;
}

// The parent is the very program to be replaced, started by the same user, and the process
// that wrote the plan (not another one that got its id).
UniqueHandle OpenCheckedParent(std::uint32_t parent_id,
                               const UpdatePlan& plan,
                               const std::wstring& target) {
  UniqueHandle parent(::OpenProcess(kParentAccess, FALSE, parent_id));
  RequireUpdate(parent.valid());
  RequireUpdate(CurrentUserSidString(::GetCurrentProcess()) == CurrentUserSidString(parent.get()));
  RequireUpdate(plan.parent_creation == ProcessCreationTime(parent.get()));
  RequireUpdate(EqualsOrdinalIgnoringCase(ProcessImagePath(parent.get()), target));
  return parent;
}

void SignalTakeOver(const std::wstring& staging_folder) {
  const UniqueHandle event(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE, ReadyEventName(FileName(staging_folder)).c_str()));
  RequireUpdate(event.valid() && ::SetEvent(event.get()) != FALSE);
}

// The old program back in place and started again, with its own hash as marker.
std::uint32_t RollBack(const UpdatePaths& paths, const UpdatePlan& plan) {
  PutPreviousProgramBack(paths, plan.old_hash);
  RelaunchProgram(paths.target, WidenAscii(plan.arguments), WidenAscii(plan.old_hash));
  CrashPoint(L"rollback-relaunched");
  return kWorkerExitRolledBack;
}

UpdatePlan ReadPlan(const std::wstring& staging_folder, std::string_view role) {
  return ReadUpdatePlan(
      BytesAsText(ReadWholeFile(JoinPath(staging_folder, kPlanFileName), kMaxPlanBytes)), role);
}

UpdatePaths PathsOfUpdate(const std::wstring& worker,
                          const std::wstring& staging_folder,
                          std::string_view target_name) {
  return {worker,
          staging_folder,
          JoinPath(ParentPath(staging_folder), WidenAscii(target_name)),
          JoinPath(staging_folder, kNewProgramFileName),
          JoinPath(staging_folder, kPreviousProgramFileName),
          JoinPath(staging_folder, kFailedProgramFileName)};
}

// The plan's manifest verifies and offers a newer version; the worker and the program file are
// the old program; the staged file is the promised x64 program.
VerifiedManifest CheckStagedUpdate(const UpdatePaths& paths,
                                   const UpdatePlan& plan,
                                   std::string_view role,
                                   std::string_view version) {
  VerifiedManifest manifest =
      VerifyUpdateManifest(plan.manifest, role, version, kWorkerMinimumSequence);
  RequireUpdate(CompareVersions(ParseVersion(manifest.version), ParseVersion(version)) > 0);
  RequireUpdate(FileSha256Hex(paths.worker) == plan.old_hash);
  RequireUpdate(FileSha256Hex(paths.target) == plan.old_hash);
  RequireUpdate(FileSha256Hex(paths.new_program) == manifest.sha256);
  CheckWindowsX64Executable(ReadWholeFile(paths.new_program, manifest.bytes));
  return manifest;
}

// Starts the program now in place while nobody can change its file; whether it is the promised
// program and came up.
bool StartSwappedProgram(const UpdatePaths& paths,
                         const UpdatePlan& plan,
                         const VerifiedManifest& manifest) {
  const UniqueHandle held = OpenFileForReading(paths.target);
  if (FileSha256Hex(paths.target) != manifest.sha256) {
    return false;
  }
  CrashPoint(L"worker-hash-checked");
  const bool came_up =
      RelaunchProgram(paths.target, WidenAscii(plan.arguments), WidenAscii(manifest.sha256));
  CrashPoint(L"worker-relaunched");
  return came_up;
}

}  // namespace

bool RelaunchProgram(const std::wstring& program_path,
                     const std::wstring& arguments,
                     const std::wstring& recovery_value) {
  std::wstring command_line = L"\"" + program_path + L"\"";
  if (!arguments.empty()) {
    command_line += L" " + arguments;
  }
  if (!recovery_value.empty()) {
    ::SetEnvironmentVariableW(kRecoveryVariable, recovery_value.c_str());
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  const BOOL created = ::CreateProcessW(program_path.c_str(), command_line.data(), nullptr, nullptr,
                                        FALSE, CREATE_UNICODE_ENVIRONMENT, nullptr,
                                        ParentPath(program_path).c_str(), &startup, &started);
  ::SetEnvironmentVariableW(kRecoveryVariable, nullptr);
  if (!created) {
    return false;
  }
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  if (::WaitForSingleObject(process.get(), kCameUpWaitMs) != WAIT_OBJECT_0) {
    return true;
  }
  DWORD exit_code = 0;
  return ::GetExitCodeProcess(process.get(), &exit_code) != FALSE && exit_code == 0;
}

std::uint32_t RunUpdateWorker(const char* role, const char* version, std::uint32_t parent_id) {
  RequireUpdate(!IsCurrentProcessElevated());
  const std::wstring worker = CurrentModulePath();
  const std::wstring staging_folder = ParentPath(worker);
  RequireUpdate(IsStagingFolderName(FileName(staging_folder)));
  const FolderRootPin staging_pin = PinFolderToRoot(staging_folder);
  const UpdatePlan plan = ReadPlan(staging_folder, role);
  const UpdatePaths paths = PathsOfUpdate(worker, staging_folder, plan.target);
  RequireUpdate(ExecutableMatchesRole(role, paths.target));
  const VerifiedManifest manifest = CheckStagedUpdate(paths, plan, role, version);
  const UniqueHandle parent = OpenCheckedParent(parent_id, plan, paths.target);

  SignalTakeOver(paths.staging_folder);
  RequireUpdate(::WaitForSingleObject(parent.get(), kParentExitWaitMs) == WAIT_OBJECT_0);
  RequireUpdate(FileSha256Hex(paths.new_program) == manifest.sha256);
  SwapInNewProgram(paths, plan.old_hash);
  if (!StartSwappedProgram(paths, plan, manifest)) {
    return RollBack(paths, plan);
  }
  CrashPoint(L"worker-before-applied");
  WriteNewFile(JoinPath(paths.staging_folder, kAppliedFileName),
               AppliedRecordText(role, manifest.sha256, manifest.version));
  CrashPoint(L"worker-applied");
  return kWorkerExitUpdated;
}

bool TryRunUpdateWorker(const char* role, const char* version, std::uint32_t& exit_code) {
  int count = 0;
  const UniqueArgv argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!argv || count < 2 || std::wstring_view(argv.get()[1]) != kUpdateWorkerSwitch) {
    return false;
  }
  try {
    const std::optional<std::uint32_t> parent_id = count == static_cast<int>(kWorkerArgumentCount)
                                                       ? ParseWorkerProcessId(argv.get()[2])
                                                       : std::nullopt;
    RequireUpdate(parent_id.has_value() && *parent_id != ::GetCurrentProcessId());
    exit_code = RunUpdateWorker(role, version, *parent_id);
  } catch (...) {
    exit_code = kWorkerExitFailed;
  }
  return true;
}

}  // namespace vexo
