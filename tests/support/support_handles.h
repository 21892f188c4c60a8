// Holders for the handle kinds only the test bench uses.
#pragma once

#include <windows.h>

#include "common/unique_resource.h"

namespace vexo::test {

struct ModuleTraits {
  using Type = HMODULE;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

struct WindowsHookTraits {
  using Type = HHOOK;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::UnhookWindowsHookEx(h); }
};
using UniqueWindowsHook = UniqueResource<WindowsHookTraits>;

// A pending resource update. Dropping it discards the changes; committing is
// EndUpdateResourceW(release(), FALSE).
struct ResourceUpdateTraits {
  using Type = HANDLE;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::EndUpdateResourceW(h, TRUE); }
};
using UniqueResourceUpdate = UniqueResource<ResourceUpdateTraits>;

}  // namespace vexo::test
