#include "system/service_control.h"

#include "common/last_error.h"
#include "system/messages.h"

namespace vexo {

UniqueServiceHandle ConnectServiceManager() {
  UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    ThrowLastError(message::kServicesNotChecked);
  }
  return manager;
}

OpenedService OpenNamedService(SC_HANDLE manager, const std::wstring& name, DWORD access) {
  OpenedService opened;
  opened.handle.reset(::OpenServiceW(manager, name.c_str(), access));
  if (!opened.handle) {
    opened.error = ::GetLastError();
  }
  return opened;
}

}  // namespace vexo
