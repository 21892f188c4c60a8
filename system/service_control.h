// The service control manager as the launcher uses it: connect, open a service by name and
// tell its refusals apart. The launcher never creates a service.
#pragma once

#include <windows.h>

#include <string>

#include "common/handles.h"

namespace vexo {

// A service opened by name, or the Windows error that refused it.
struct OpenedService {
  UniqueServiceHandle handle;
  DWORD error = ERROR_SUCCESS;
};

// Connects to the local service control manager (default database) with SC_MANAGER_CONNECT.
// Throws Failure with the Windows error and the message that services could not be checked.
UniqueServiceHandle ConnectServiceManager();

// Opens the service `name` with `access`; on failure the handle is empty and `error` says why.
OpenedService OpenNamedService(SC_HANDLE manager, const std::wstring& name, DWORD access);

}  // namespace vexo
