#include "cleanup/broker_service.h"

#include <iterator>
#include <string_view>
#include <vector>

#include "cleanup/host_detection.h"
#include "cleanup/messages.h"
#include "common/crash_point.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/last_error.h"
#include "common/ordinal_compare.h"
#include "common/path.h"
#include "common/product.h"
#include "system/service_control.h"

namespace vexo {
namespace {

constexpr DWORD kRemovalAccess =
    DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;
constexpr DWORD kServiceProcessAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
constexpr DWORD kServiceCannotAcceptControl = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;  // 1061
constexpr DWORD kServiceNotActive = ERROR_SERVICE_NOT_ACTIVE;                    // 1062

// The broker identity: what each checked field of the configuration must hold. Error control,
// load order group, tag, dependencies and display name are not examined.
struct RequiredNumber {
  DWORD QUERY_SERVICE_CONFIGW::*field;
  DWORD value;
};
constexpr RequiredNumber kRequiredNumbers[] = {
    {&QUERY_SERVICE_CONFIGW::dwServiceType, SERVICE_WIN32_OWN_PROCESS},
    {&QUERY_SERVICE_CONFIGW::dwStartType, SERVICE_DEMAND_START},
};
struct AcceptedTexts {
  LPWSTR QUERY_SERVICE_CONFIGW::*field;
  std::vector<std::wstring_view> values;  // compared ignoring case; the field must be present
};

// `"<run folder>\Vexo-Host.exe" --uac-service`, exactly.
std::wstring BrokerBinaryPath(const std::wstring& run_folder) {
  return L"\"" + JoinPath(run_folder, product::kHostFileName) + L"\" " +
         product::kHostServiceSwitch;
}

bool IsAccepted(const wchar_t* text, const std::vector<std::wstring_view>& values) {
  if (text == nullptr) {
    return false;
  }
  for (const std::wstring_view value : values) {
    if (EqualsOrdinalIgnoringCase(text, value)) {
      return true;
    }
  }
  return false;
}

bool MatchesBrokerIdentity(const QUERY_SERVICE_CONFIGW& config, const std::wstring& run_folder) {
  const std::wstring binary_path = BrokerBinaryPath(run_folder);
  const AcceptedTexts accepted_texts[] = {
      {&QUERY_SERVICE_CONFIGW::lpBinaryPathName, {binary_path}},
      {&QUERY_SERVICE_CONFIGW::lpServiceStartName,
       {std::begin(kLocalSystemAccountNames), std::end(kLocalSystemAccountNames)}},
  };
  for (const AcceptedTexts& row : accepted_texts) {
    if (!IsAccepted(config.*row.field, row.values)) {
      return false;
    }
  }
  for (const RequiredNumber& row : kRequiredNumbers) {
    if (config.*row.field != row.value) {
      return false;
    }
  }
  return true;
}

void CheckBrokerConfiguration(SC_HANDLE service, const std::wstring& run_folder) {
  DWORD size = 0;
  ::QueryServiceConfigW(service, nullptr, 0, &size);
  if (size == 0 || size > kMaxBrokerConfigSize) {
    ThrowFailure(message::kBrokerConfigInvalid, error::kInvalidData);
  }
  // Pointer-sized elements keep the record's string pointers aligned.
  std::vector<ULONG_PTR> buffer((size + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR), 0);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!::QueryServiceConfigW(service, config, size, &size)) {
    ThrowLastError(message::kBrokerConfigNotRead);
  }
  if (!MatchesBrokerIdentity(*config, run_folder)) {
    ThrowFailure(message::kBrokerDiffers, error::kAccessDenied);
  }
}

// The service's process, opened for waiting, once it has proven to be this run's Host running
// as LocalSystem (or to have ended already). None when the service has no process.
UniqueHandle OpenBrokerProcess(SC_HANDLE service, const std::wstring& run_folder) {
  SERVICE_STATUS_PROCESS status{};
  DWORD size = 0;
  if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &size)) {
    ThrowLastError(message::kBrokerProcessNotChecked);
  }
  if (status.dwProcessId == 0) {
    return {};
  }
  UniqueHandle process(::OpenProcess(kServiceProcessAccess, FALSE, status.dwProcessId));
  if (!process) {
    if (::GetLastError() == ERROR_INVALID_PARAMETER) {
      return {};  // it has gone since the status was read
    }
    ThrowLastError(message::kBrokerProcessEndUnknown);
  }
  if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
    return process;
  }
  // A path that cannot be read is empty and so not this run's Host.
  if (!IsRunFolderHost(GetProcessImagePath(process.get()), run_folder) ||
      !IsLocalSystemProcess(process.get())) {
    ThrowFailure(message::kBrokerProcessNotThisRun, error::kAccessDenied);
  }
  return process;
}

// States in which a stop request is sent. A service that is still starting is not sent one:
// Windows refuses it (1061) until the service runs, so the request waits for that.
bool TakesStopRequest(DWORD state) noexcept {
  return state == SERVICE_RUNNING || state == SERVICE_PAUSED || state == SERVICE_PAUSE_PENDING ||
         state == SERVICE_CONTINUE_PENDING;
}

// Sends the stop request; `status` receives the answer. Returns whether the request is done
// with: taken, or not needed because the service no longer runs (1062). A service that cannot
// take it yet (1061) is asked again on a later poll; any other refusal is a Failure.
bool RequestStop(SC_HANDLE service, SERVICE_STATUS& status) {
  if (::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error != kServiceNotActive && error != kServiceCannotAcceptControl) {
    ThrowFailure(message::kBrokerStopRequestFailed, error);
  }
  return error == kServiceNotActive;
}

// Brings the service to the stopped state within kBrokerStopWaitMs, asking it to stop only
// when it is neither stopped nor stopping.
void StopBrokerService(SC_HANDLE service) {
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service, &status)) {
    ThrowLastError(message::kBrokerStateNotChecked);
  }
  const ULONGLONG start = ::GetTickCount64();
  bool stop_requested = false;
  for (;;) {
    if (!stop_requested && TakesStopRequest(status.dwCurrentState)) {
      stop_requested = RequestStop(service, status);
    }
    if (status.dwCurrentState == SERVICE_STOPPED) {
      return;
    }
    if (::GetTickCount64() - start >= kBrokerStopWaitMs) {
      ThrowFailure(message::kBrokerNotStopped, error::kTimeout);
    }
    ::Sleep(kBrokerPollIntervalMs);
    if (!::QueryServiceStatus(service, &status)) {
      ThrowLastError(message::kBrokerStopNotConfirmed);
    }
  }
}

void DeleteBrokerService(SC_HANDLE service) {
  if (!::DeleteService(service) && ::GetLastError() != error::kServiceMarkedForDelete) {
    ThrowLastError(message::kBrokerNotDeleted);
  }
}

void WaitForBrokerProcessEnd(HANDLE process) {
  if (process != nullptr && ::WaitForSingleObject(process, kBrokerProcessWaitMs) != WAIT_OBJECT_0) {
    ThrowFailure(message::kBrokerProcessNotEnded, error::kTimeout);
  }
}

// Polls until opening the service answers that it does not exist. Any other answer means not
// gone yet; the handle of a successful open is closed before the next poll, since every open
// handle keeps the registration alive.
void WaitForBrokerNameGone(SC_HANDLE manager, const std::wstring& service_name) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    if (OpenNamedService(manager, service_name, SERVICE_QUERY_STATUS).error ==
        error::kServiceDoesNotExist) {
      return;
    }
    if (::GetTickCount64() - start >= kBrokerRemovalWaitMs) {
      ThrowFailure(message::kBrokerRemovalUnfinished, error::kTimeout);
    }
    ::Sleep(kBrokerPollIntervalMs);
  }
}

}  // namespace

bool IsLocalSystemAccountName(const wchar_t* account) {
  return IsAccepted(account,
                    {std::begin(kLocalSystemAccountNames), std::end(kLocalSystemAccountNames)});
}

bool BrokerServiceExists(const std::wstring& service_name) {
  const UniqueServiceHandle manager = ConnectServiceManager();
  const OpenedService service = OpenNamedService(manager.get(), service_name, SERVICE_QUERY_CONFIG);
  if (service.handle || service.error == error::kServiceMarkedForDelete) {
    return true;
  }
  if (service.error == error::kServiceDoesNotExist) {
    return false;
  }
  ThrowFailure(message::kBrokerPresenceUnknown, service.error);
}

void RemoveBrokerService(const std::wstring& run_folder, const std::wstring& service_name) {
  const UniqueServiceHandle manager = ConnectServiceManager();
  OpenedService broker = OpenNamedService(manager.get(), service_name, kRemovalAccess);
  if (broker.error == error::kServiceDoesNotExist) {
    return;
  }
  if (!broker.handle) {
    ThrowFailure(message::kBrokerNotChecked, broker.error);
  }
  CheckBrokerConfiguration(broker.handle.get(), run_folder);
  const UniqueHandle process = OpenBrokerProcess(broker.handle.get(), run_folder);
  StopBrokerService(broker.handle.get());
  CrashPoint(L"cleanup-service-stopped");
  DeleteBrokerService(broker.handle.get());
  CrashPoint(L"cleanup-service-deleted");
  // The registration goes only once every handle to it is closed, ours first.
  broker.handle.reset();
  WaitForBrokerProcessEnd(process.get());
  WaitForBrokerNameGone(manager.get(), service_name);
}

}  // namespace vexo
