#include "cleanup/emulated_service_account.h"

#include <vector>

#include "cleanup/broker_service.h"
#include "common/handles.h"

namespace vexo::emulated_service_account {
namespace {

constexpr DWORD kEnumerationAccess = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE;

bool IsRegisteredForLocalSystem(SC_HANDLE manager, const wchar_t* service_name) {
  const UniqueServiceHandle service(::OpenServiceW(manager, service_name, SERVICE_QUERY_CONFIG));
  if (!service) {
    return false;
  }
  DWORD size = 0;
  ::QueryServiceConfigW(service.get(), nullptr, 0, &size);
  std::vector<ULONG_PTR> buffer(size / sizeof(ULONG_PTR) + 1, 0);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  return ::QueryServiceConfigW(service.get(), config, size, &size) &&
         IsLocalSystemAccountName(config->lpServiceStartName);
}

}  // namespace

bool IsProcessOfLocalSystemService(HANDLE process) noexcept {
  try {
    const DWORD process_id = ::GetProcessId(process);
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, kEnumerationAccess));
    DWORD size = 0;
    DWORD count = 0;
    ::EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE,
                            nullptr, 0, &size, &count, nullptr, nullptr);
    std::vector<ULONG_PTR> buffer(size / sizeof(ULONG_PTR) + 1, 0);
    if (process_id == 0 || !manager ||
        !::EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE,
                                 reinterpret_cast<BYTE*>(buffer.data()),
                                 static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)), &size,
                                 &count, nullptr, nullptr)) {
      return false;
    }
    const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
      if (services[i].ServiceStatusProcess.dwProcessId == process_id) {
        return IsRegisteredForLocalSystem(manager.get(), services[i].lpServiceName);
      }
    }
    return false;
  } catch (...) {
    return false;
  }
}

}  // namespace vexo::emulated_service_account
