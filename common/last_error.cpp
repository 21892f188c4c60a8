#include "common/last_error.h"

#include <windows.h>

#include "common/failure.h"

namespace vexo {

void ThrowLastError(const wchar_t* message) {
  const DWORD code = ::GetLastError();
  ThrowFailure(message, code);
}

}  // namespace vexo
