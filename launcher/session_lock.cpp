#include "launcher/session_lock.h"

#include <windows.h>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/last_error.h"
#include "common/product.h"
#include "launcher/messages.h"

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

SessionLock AcquireSessionLock(SessionLockKind kind) {
  const std::wstring name = SessionLockName(QueryCustomerSessionId(), kind);

  // Creation and the already-exists test are one atomic step: read the error at once.
  SessionLock lock(::CreateMutexW(nullptr, FALSE, name.c_str()));
  if (!lock) {
    ThrowLastError(message::kDuplicateStateUnknown);
  }
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    BringHostWindowForward();
    lock.reset();
    ThrowFailure(message::kAlreadyRunning, error::kAlreadyExists);
  }
  return lock;
}

}  // namespace vexo
