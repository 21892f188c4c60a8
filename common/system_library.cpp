#include "common/system_library.h"

namespace vexo {

bool RestrictLibrarySearchToSystemFolder() noexcept {
  return ::SetDefaultDllDirectories(kSystemFolderOnly) != FALSE;
}

UniqueModule LoadSystemLibrary(const wchar_t* file_name) noexcept {
  return UniqueModule(::LoadLibraryExW(file_name, nullptr, kSystemFolderOnly));
}

}  // namespace vexo
