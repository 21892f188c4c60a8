#include "common/system_library.h"

namespace vexo {

bool RestrictLibrarySearchToSystemFolder() noexcept {
  return ::SetDefaultDllDirectories(kSystemFolderOnly) != FALSE;
}

UniqueModule LoadSystemLibrary(const wchar_t* file_name) noexcept {
  return UniqueModule(::LoadLibraryExW(file_name, nullptr, kSystemFolderOnly));
}

bool PinModuleForProcessLife(HMODULE module) noexcept {
  HMODULE pinned = nullptr;
  return ::GetModuleHandleExW(
             GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
             reinterpret_cast<LPCWSTR>(module), &pinned) != FALSE &&
         pinned == module;
}

}  // namespace vexo
