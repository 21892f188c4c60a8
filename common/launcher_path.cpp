#include "common/launcher_path.h"

#include <windows.h>

#include <vector>

#include "common/last_error.h"
#include "common/messages.h"
#include "common/path.h"

namespace vexo {

std::wstring GetLauncherPath() {
  std::vector<wchar_t> buffer(kLongPathCapacity, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), kLongPathCapacity);
  if (length == 0 || length >= kLongPathCapacity) {
    ThrowLastError(message::kLauncherLocationUnknown);
  }
  return LexicallyNormal(std::wstring_view(buffer.data(), length));
}

}  // namespace vexo
