#include "common/launcher_path.h"

#include <windows.h>

#include <vector>

#include "common/failure.h"
#include "common/messages.h"
#include "common/path.h"

namespace vexo {
namespace {

constexpr DWORD kLongPathCapacity = 32768;

}  // namespace

std::wstring GetLauncherPath() {
  std::vector<wchar_t> buffer(kLongPathCapacity, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), kLongPathCapacity);
  if (length == 0 || length >= kLongPathCapacity) {
    ThrowFailure(message::kLauncherLocationUnknown, ::GetLastError());
  }
  return LexicallyNormal(std::wstring_view(buffer.data(), length));
}

}  // namespace vexo
