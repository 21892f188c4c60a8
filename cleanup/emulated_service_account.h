// Test flavour VEXO_EMULATED_SERVICE_ACCOUNT only: the account a service process would run
// under on Windows.
//
// Windows starts the process of a service registered for LocalSystem with a LocalSystem token;
// Wine starts it with the user's token. The flavour answers for such a process what Windows
// would give, so the removal of a running broker service can be tested end to end
// (docs/broker-service-under-wine.md). Every other process is still judged by its token.
#pragma once

#include <windows.h>

namespace vexo::emulated_service_account {

// Whether `process` is the running process of a service registered for the account
// LocalSystem (or .\LocalSystem). False when that cannot be established.
bool IsProcessOfLocalSystemService(HANDLE process) noexcept;

}  // namespace vexo::emulated_service_account
