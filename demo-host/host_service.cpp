#include "demo-host/host_service.h"

#include "common/handles.h"
#include "common/path.h"
#include "common/product.h"
#include "demo-host/host_knobs.h"
#include "run/run_id.h"

namespace vexo::demo_host {
namespace {

constexpr wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr wchar_t kExtraArgumentText[] = L" --extra";
constexpr DWORD kBehaviourCapacity = 64;
constexpr DWORD kNoControls = 0;

enum class BinaryPathForm { kRunFolder, kOtherFolder, kExtraArgument, kUpperCase };

struct Registration {
  const wchar_t* variant;
  BinaryPathForm path;
  DWORD service_type;
  DWORD start_type;
  const wchar_t* account;  // null: LocalSystem
};

// The first row is the contract's registration; each other row changes one field of it.
constexpr Registration kRegistrations[] = {
    {L"", BinaryPathForm::kRunFolder, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, nullptr},
    {kOtherFolderVariant, BinaryPathForm::kOtherFolder, SERVICE_WIN32_OWN_PROCESS,
     SERVICE_DEMAND_START, nullptr},
    {kExtraArgumentVariant, BinaryPathForm::kExtraArgument, SERVICE_WIN32_OWN_PROCESS,
     SERVICE_DEMAND_START, nullptr},
    {kOtherAccountVariant, BinaryPathForm::kRunFolder, SERVICE_WIN32_OWN_PROCESS,
     SERVICE_DEMAND_START, L"NT AUTHORITY\\LocalService"},
    {kAutomaticStartVariant, BinaryPathForm::kRunFolder, SERVICE_WIN32_OWN_PROCESS,
     SERVICE_AUTO_START, nullptr},
    {kSharedProcessVariant, BinaryPathForm::kRunFolder, SERVICE_WIN32_SHARE_PROCESS,
     SERVICE_DEMAND_START, nullptr},
    {kUpperCasePathVariant, BinaryPathForm::kUpperCase, SERVICE_WIN32_OWN_PROCESS,
     SERVICE_DEMAND_START, nullptr},
    {kDotAccountVariant, BinaryPathForm::kRunFolder, SERVICE_WIN32_OWN_PROCESS,
     SERVICE_DEMAND_START, L".\\localsystem"},
};

const Registration* FindRegistration(const std::wstring& variant) {
  for (const Registration& row : kRegistrations) {
    if (variant == row.variant) {
      return &row;
    }
  }
  return nullptr;
}

// `"<folder>\Vexo-Host.exe" --uac-service` in the form the row asks for.
std::wstring BinaryPath(const std::wstring& run_folder, BinaryPathForm form) {
  const std::wstring folder =
      form == BinaryPathForm::kOtherFolder ? ParentPath(run_folder) : run_folder;
  std::wstring host_path = JoinPath(folder, product::kHostFileName);
  if (form == BinaryPathForm::kUpperCase) {
    CharUpperBuffW(host_path.data(), static_cast<DWORD>(host_path.size()));
  }
  std::wstring binary_path = L"\"" + host_path + L"\" " + product::kHostServiceSwitch;
  if (form == BinaryPathForm::kExtraArgument) {
    binary_path += kExtraArgumentText;
  }
  return binary_path;
}

std::wstring ServiceKey(const std::wstring& service_name) {
  return kServicesKey + service_name;
}

DWORD StoreServiceBehaviour(const std::wstring& service_name, const std::wstring& behaviour) {
  return static_cast<DWORD>(RegSetKeyValueW(
      HKEY_LOCAL_MACHINE, ServiceKey(service_name).c_str(), kServiceBehaviourValue, REG_SZ,
      behaviour.c_str(), static_cast<DWORD>((behaviour.size() + 1) * sizeof(wchar_t))));
}

std::wstring ReadServiceBehaviour(const std::wstring& service_name) {
  wchar_t behaviour[kBehaviourCapacity] = {};
  DWORD size = sizeof(behaviour);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, ServiceKey(service_name).c_str(), kServiceBehaviourValue,
                   RRF_RT_REG_SZ, nullptr, behaviour, &size) != ERROR_SUCCESS) {
    return {};
  }
  return behaviour;
}

// The running service, shared with the dispatcher's callbacks.
struct BrokerService {
  SERVICE_STATUS_HANDLE status_handle = nullptr;
  UniqueHandle stop_requested;
  bool ignore_stop = false;
  DWORD exit_code = ERROR_SUCCESS;
};
BrokerService g_service;

void ReportState(DWORD state, DWORD controls_accepted, DWORD wait_hint_ms) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = controls_accepted;
  status.dwWaitHint = wait_hint_ms;
  SetServiceStatus(g_service.status_handle, &status);
}

DWORD WINAPI HandleServiceControl(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    if (!g_service.ignore_stop) {
      SetEvent(g_service.stop_requested.get());
    }
    return NO_ERROR;
  }
  return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI BrokerServiceMain(DWORD argc, LPWSTR* argv) {
  const std::wstring service_name = argc > 0 ? argv[0] : L"";
  g_service.status_handle =
      RegisterServiceCtrlHandlerExW(service_name.c_str(), HandleServiceControl, nullptr);
  g_service.stop_requested.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (g_service.status_handle == nullptr || !g_service.stop_requested) {
    g_service.exit_code = GetLastError();
    return;
  }
  const std::wstring behaviour = ReadServiceBehaviour(service_name);
  g_service.ignore_stop = behaviour == kIgnoreStopBehaviour;
  if (behaviour == kSlowStartBehaviour) {
    ReportState(SERVICE_START_PENDING, kNoControls, 2 * kSlowStartMs);
    Sleep(kSlowStartMs);
  }
  ReportState(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0);
  WaitForSingleObject(g_service.stop_requested.get(), INFINITE);
  ReportState(SERVICE_STOPPED, kNoControls, 0);
}

}  // namespace

DWORD RegisterBrokerService(const std::wstring& run_folder) {
  const Registration* registration = FindRegistration(Knob(kRegisterKnob).value_or(L""));
  if (registration == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::wstring name = BrokerServiceName(FileName(run_folder));
  const std::wstring binary_path = BinaryPath(run_folder, registration->path);
  const UniqueServiceHandle manager(
      OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) {
    return GetLastError();
  }
  const UniqueServiceHandle service(CreateServiceW(
      manager.get(), name.c_str(), name.c_str(), SERVICE_START, registration->service_type,
      registration->start_type, SERVICE_ERROR_NORMAL, binary_path.c_str(), nullptr, nullptr,
      nullptr, registration->account, nullptr));
  if (!service) {
    return GetLastError();
  }
  if (const auto behaviour = Knob(kServiceKnob)) {
    if (const DWORD error = StoreServiceBehaviour(name, *behaviour); error != ERROR_SUCCESS) {
      return error;
    }
  }
  if (Knob(kStartServiceKnob) && !StartServiceW(service.get(), 0, nullptr)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

DWORD RunBrokerService() {
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(L""), BrokerServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    return GetLastError();
  }
  return g_service.exit_code;
}

}  // namespace vexo::demo_host
