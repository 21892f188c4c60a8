#include "deploy/deployment.h"

#include <windows.h>

#include <string>
#include <vector>

#include "cleanup/cleanup_run.h"
#include "common/crash_point.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/failure_text.h"
#include "common/handles.h"
#include "common/launcher_path.h"
#include "common/path.h"
#include "common/product.h"
#include "common/switches.h"
#include "deploy/broker_check.h"
#include "deploy/host_start.h"
#include "deploy/messages.h"
#include "fs/chain_pin.h"
#include "fs/protected_folder.h"
#include "payload/embedded_catalogue.h"
#include "payload/payload_file.h"
#include "run/run_placement.h"
#include "system/administrator.h"

namespace vexo {
namespace {

constexpr UINT kClosingMessageStyle = MB_OK | MB_ICONWARNING;

// What one run has made inside its run folder, in the order it was made, and how far it got.
struct DeployedRun {
  std::wstring run_id;
  std::wstring run_folder;
  UniqueHandle run_handle;
  std::vector<std::wstring> folder_paths;
  std::vector<UniqueHandle> folders;
  std::vector<const PayloadEntry*> entries;
  std::vector<UniqueHandle> files;
  // Set right before the first Host start: from then on the run may own a broker service,
  // and only the cleanup sequence removes it.
  bool host_phase = false;
};

// The result and the closing message of a deployment.
struct Outcome {
  std::uint32_t code = 0;
  std::wstring message;
};

// Steps that create: the payload folders, then the payload files, each proven and kept open.
void DeployPayload(DeployedRun& run, PSECURITY_DESCRIPTOR descriptor) {
  for (const wchar_t* relative : kAllowedFolders) {
    const std::wstring folder = JoinPath(run.run_folder, relative);
    run.folders.push_back(OpenProtectedFolder(folder, descriptor, ExistingFolder::kRefuse));
    run.folder_paths.push_back(folder);
  }
  for (const PayloadEntry& entry : kPayloadCatalogue) {
    run.files.push_back(DeployPayloadFile(run.run_folder, entry, descriptor));
    run.entries.push_back(&entry);
    CrashPoint(L"deploy-payload-file");
  }
}

// The Host phase: the auxiliary service is prepared hidden and in time, then the Host runs
// until the customer closes it. Returns the Host's exit code.
std::uint32_t RunHost(DeployedRun& run) {
  CheckBrokerServiceAbsent(run.run_id);
  CrashPoint(L"deploy-broker-checked");
  run.host_phase = true;
  const std::uint32_t preparation =
      StartHost(run.run_folder, product::kHostInstallSwitch, HostSupervision::kOff);
  if (preparation != 0) {
    ThrowFailure(message::kAuxiliaryServiceNotPrepared, preparation);
  }
  CrashPoint(L"deploy-host-prepared");
  return StartHost(run.run_folder, std::wstring(), HostSupervision::kOn);
}

void DeployAndRunHost(DeployedRun& run, PSECURITY_DESCRIPTOR descriptor, Outcome& outcome) {
  try {
    DeployPayload(run, descriptor);
    outcome.code = RunHost(run);
    if (outcome.code != 0) {
      outcome.message = message::kHostEnded + DecimalText(outcome.code);
    }
  } catch (const Failure& failure) {
    outcome.code = failure.code;
    outcome.message = FormatFailureText(failure);
  } catch (...) {
    outcome.code = error::kInvalidData;
    outcome.message = message::kDeploymentUnexpectedError;
  }
}

// Before any Host was started, the run is taken apart directly, newest first.
void RemoveBeforeHostPhase(const DeployedRun& run, const std::wstring& base_folder) {
  const DirectoryChainPin base_chain = PinFolderChain(base_folder, ChainSecurity::kRelaxedRule);
  const UniqueHandle base = OpenProtectedFolder(base_folder, nullptr, ExistingFolder::kReuse);
  for (const PayloadEntry* entry : run.entries) {
    DeletePayloadFile(run.run_folder, *entry);
  }
  for (auto folder = run.folder_paths.rbegin(); folder != run.folder_paths.rend(); ++folder) {
    DeleteProtectedFolder(*folder);
  }
  DeleteProtectedFolder(run.run_folder);
}

// A removal that could not finish tells the customer what is left and the exact command that
// removes it later.
void AddRemovalFailure(const Failure& failure,
                       const DeployedRun& run,
                       const std::wstring& launcher_path,
                       Outcome& outcome) {
  if (outcome.code == 0) {
    outcome.code = failure.code;
  }
  if (!outcome.message.empty()) {
    outcome.message += L"\n\n";
  }
  outcome.message += FormatFailureText(failure);
  outcome.message += L"\n\n";
  outcome.message += message::kRemainingPath;
  outcome.message += run.run_folder;
  outcome.message += L'\n';
  outcome.message += message::kRunCleanupCommandLater;
  outcome.message += L"\n\"";
  outcome.message += launcher_path;
  outcome.message += L"\" ";
  outcome.message += kSwitchCleanup;
  outcome.message += L' ';
  outcome.message += run.run_id;
}

void RemoveRun(DeployedRun& run,
               const std::wstring& base_folder,
               const std::wstring& launcher_path,
               Outcome& outcome) {
  CloseNewestFirst(run.files);
  CloseNewestFirst(run.folders);
  run.run_handle.reset();
  try {
    if (run.host_phase) {
      CleanupRun(run.run_folder, run.run_id);
    } else {
      RemoveBeforeHostPhase(run, base_folder);
    }
  } catch (const Failure& failure) {
    AddRemovalFailure(failure, run, launcher_path, outcome);
  } catch (...) {
    if (outcome.code == 0) {
      outcome.code = error::kInvalidData;
    }
    outcome.message += L'\n';
    outcome.message += message::kCleanupUnexpectedError;
    outcome.message += run.run_id;
  }
}

}  // namespace

std::uint32_t RunDeployment() {
  // Preparation: a failure here reaches the entry point, which shows it.
  if (!IsElevatedAdministrator()) {
    ThrowFailure(message::kDeploymentNeedsApproval, error::kAccessDenied);
  }
  const std::wstring program_files = GetProgramFilesFolder();
  const std::wstring base_folder = JoinPath(program_files, kBaseFolderName);
  // Read now so that the closing message can always name the command that removes leftovers.
  const std::wstring launcher_path = GetLauncherPath();
  const RunFolderDescriptor descriptor = ConvertRunFolderSddl();
  const DirectoryChainPin program_files_chain =
      PinFolderChain(program_files, ChainSecurity::kRelaxedRule);
  const UniqueHandle base =
      OpenProtectedFolder(base_folder, descriptor.get(), ExistingFolder::kReuse);
  CrashPoint(L"deploy-base-folder");
  DeployedRun run;
  run.run_id = NewRunId();
  run.run_folder = JoinPath(base_folder, run.run_id);
  run.run_handle = OpenProtectedFolder(run.run_folder, descriptor.get(), ExistingFolder::kRefuse);
  CrashPoint(L"deploy-run-folder");

  // From here on every failure is caught, the run is removed, and one message tells the rest.
  Outcome outcome;
  DeployAndRunHost(run, descriptor.get(), outcome);
  RemoveRun(run, base_folder, launcher_path, outcome);
  if (!outcome.message.empty()) {
    ::MessageBoxW(nullptr, outcome.message.c_str(), product::kProductTitle, kClosingMessageStyle);
  }
  return outcome.code;
}

}  // namespace vexo
