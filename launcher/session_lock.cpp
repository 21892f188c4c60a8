#include "launcher/session_lock.h"

#include <windows.h>

#include "common/error_codes.h"
#include "common/failure.h"
#include "launcher/messages.h"
#include "launcher/product.h"

namespace vexo {
namespace {

// The Windows session of this process; session 0 serves services, never a customer.
std::uint32_t QueryCustomerSessionId() {
  DWORD session_id = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session_id) || session_id == 0) {
    ThrowFailure(message::kSessionUnknown, error::kAccessDenied);
  }
  return session_id;
}

}  // namespace

void BringHostWindowForward() {
  HWND host_window = ::FindWindowW(product::kHostWindowClass, nullptr);
  if (host_window != nullptr) {
    ::ShowWindowAsync(host_window, SW_RESTORE);
    ::SetForegroundWindow(host_window);
  }
}

void AcquireSessionLock(SessionLock& lock, bool keeper) {
  const std::wstring name = SessionLockName(QueryCustomerSessionId(), keeper);

  // Creation and the already-exists test are one atomic step: read the error at once.
  lock.reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
  const DWORD creation_error = ::GetLastError();
  if (!lock) {
    lock.reset();
    ThrowFailure(message::kDuplicateStateUnknown, creation_error);
  }
  if (creation_error == ERROR_ALREADY_EXISTS) {
    BringHostWindowForward();
    lock.reset();
    ThrowFailure(message::kAlreadyRunning, error::kAlreadyExists);
  }
}

}  // namespace vexo
