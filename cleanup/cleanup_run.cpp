#include "cleanup/cleanup_run.h"

#include <windows.h>

#include <string>
#include <vector>

#include "cleanup/broker_service.h"
#include "cleanup/host_detection.h"
#include "cleanup/messages.h"
#include "cleanup/run_sweep.h"
#include "common/crash_point.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/path.h"
#include "fs/chain_pin.h"
#include "fs/file_identity.h"
#include "fs/file_pin.h"
#include "fs/protected_folder.h"
#include "payload/embedded_catalogue.h"
#include "payload/payload_check.h"
#include "payload/payload_file.h"
#include "run/run_id.h"

namespace vexo {
namespace {

// Everything phase A holds open until phase B lets go of it, in the order it was taken, and
// released newest first when a failure passes.
struct HeldRun {
  HeldRun() = default;
  HeldRun(const HeldRun&) = delete;
  HeldRun& operator=(const HeldRun&) = delete;
  ~HeldRun() {
    CloseNewestFirst(file_pins);
    CloseNewestFirst(folders);
  }

  std::vector<UniqueHandle> folders;  // the run folder, then each payload folder opened
  std::vector<UniqueHandle> file_pins;
  std::vector<const PayloadEntry*> removal;  // rows pinned and verified, in catalogue order
};

// With the service present, every item must be there; without it, a missing item was already
// removed by an earlier cleanup that stopped part way.
bool SkipMissing(bool service_present, const std::wstring& path) {
  return !service_present && !PathExists(path);
}

void OpenPayloadFolders(std::wstring_view run_folder, bool service_present, HeldRun& held) {
  for (const wchar_t* relative : kAllowedFolders) {
    const std::wstring folder = JoinPath(run_folder, relative);
    if (SkipMissing(service_present, folder)) {
      continue;
    }
    held.folders.push_back(OpenProtectedFolder(folder, nullptr, ExistingFolder::kReuse));
  }
}

void PinPayloadFiles(std::wstring_view run_folder, bool service_present, HeldRun& held) {
  for (const PayloadEntry& entry : kPayloadCatalogue) {
    const std::wstring path = JoinPath(run_folder, entry.relative_path);
    if (SkipMissing(service_present, path)) {
      continue;
    }
    UniqueHandle pin = PinFileForReading(path, PinSecurity::kStrictRule);
    VerifyPayloadOrLeadingPart(pin.get(), entry);
    held.file_pins.push_back(std::move(pin));
    held.removal.push_back(&entry);
  }
}

// The second probe: a service that appeared (or was marked for deletion) while phase A looked
// means a Host is at work, so everything is kept.
void CheckServiceStillAbsent(const std::wstring& service_name) {
  if (BrokerServiceExists(service_name)) {
    ThrowFailure(message::kServiceChangedDuringCheck, error::kBusy);
  }
}

void DeletePayloadFolders(std::wstring_view run_folder) {
  for (auto relative = kAllowedFolders.rbegin(); relative != kAllowedFolders.rend(); ++relative) {
    const std::wstring folder = JoinPath(run_folder, *relative);
    if (PathExists(folder)) {
      DeleteProtectedFolder(folder);
      CrashPoint(L"cleanup-folder-deleted");
    }
  }
}

}  // namespace

void CleanupRun(const std::wstring& run_folder, std::wstring_view run_id) {
  // Phase A: pin and check; nothing changes.
  const std::wstring base_folder = ParentPath(run_folder);
  const DirectoryChainPin base_chain = PinFolderChain(base_folder, ChainSecurity::kRelaxedRule);
  const UniqueHandle base = OpenProtectedFolder(base_folder, nullptr, ExistingFolder::kReuse);
  HeldRun held;
  held.folders.push_back(OpenProtectedFolder(run_folder, nullptr, ExistingFolder::kReuse));
  const std::wstring service_name = BrokerServiceName(run_id);
  const bool service_present = BrokerServiceExists(service_name);
  OpenPayloadFolders(run_folder, service_present, held);
  PinPayloadFiles(run_folder, service_present, held);
  CheckNoUnlistedEntries(run_folder);
  EnsureHostStopped(run_folder);
  if (!service_present) {
    CheckServiceStillAbsent(service_name);
  }

  // Phase B: remove, in the fixed order.
  RemoveBrokerService(run_folder, service_name);
  EnsureHostStopped(run_folder);
  CloseNewestFirst(held.file_pins);
  for (const PayloadEntry* entry : held.removal) {
    DeletePayloadFile(run_folder, *entry);
    CrashPoint(L"cleanup-file-deleted");
  }
  CloseNewestFirst(held.folders);
  DeletePayloadFolders(run_folder);
  DeleteProtectedFolder(run_folder);
  CrashPoint(L"cleanup-folder-deleted");
}

}  // namespace vexo
