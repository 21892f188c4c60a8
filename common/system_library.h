// Libraries that are not among Windows' known DLLs, loaded from the system folder only.
//
// Windows resolves a program's static imports before its entry point runs, and for a DLL that
// is not a known DLL it looks in the program's own folder first. The launcher is started from a
// download folder that any program of the customer can write, and its elevated instance is
// started from the same file, so a DLL dropped there would run with administrator rights. The
// launcher therefore imports only known DLLs; every other library (bcrypt.dll, winhttp.dll) is
// loaded here, from the system folder alone, and its functions are resolved through a table of
// the exports a caller needs into a record of typed function pointers. docs/dll-search.md lists
// the launcher's imports and why each is safe.
#pragma once

#include <windows.h>

#include <optional>
#include <span>
#include <type_traits>

#include "common/handles.h"

namespace vexo {

// The only folder a library may come from: %windir%\System32.
inline constexpr DWORD kSystemFolderOnly = LOAD_LIBRARY_SEARCH_SYSTEM32;

// Makes the system folder the process's only default library folder, for every later load that
// names no folder of its own (including the dependencies of system libraries). The first thing
// the launcher does; false when the system refused.
bool RestrictLibrarySearchToSystemFolder() noexcept;

// Loads `file_name` from the system folder only: never from the program's folder, the current
// folder or PATH. Invalid when it cannot be loaded from there.
UniqueModule LoadSystemLibrary(const wchar_t* file_name) noexcept;

// Keeps a loaded module in the process until the process ends, whatever FreeLibrary calls
// follow; false when the system refused.
bool PinModuleForProcessLife(HMODULE module) noexcept;

// One export of a system library, and how its address goes into a record of typed pointers.
template <typename Functions>
struct SystemExport {
  const char* name;
  void (*store)(Functions& functions, FARPROC address) noexcept;
};

template <typename Member>
struct MemberOwner;
template <typename Owner, typename Type>
struct MemberOwner<Type Owner::*> {
  using Record = Owner;
};

// Stores an export's address in the record member `Member`, with that member's own type.
template <auto Member, typename Functions = typename MemberOwner<decltype(Member)>::Record>
void StoreExport(Functions& functions, FARPROC address) noexcept {
  using Pointer = std::remove_reference_t<decltype(functions.*Member)>;
  // FARPROC -> void(*)() -> the export's type: the generic function pointer every type casts to.
  functions.*Member = reinterpret_cast<Pointer>(reinterpret_cast<void (*)()>(address));
}

// A table row: the export named `name` goes into the record member `Member`.
template <auto Member, typename Functions = typename MemberOwner<decltype(Member)>::Record>
constexpr SystemExport<Functions> ExportInto(const char* name) noexcept {
  return {name, &StoreExport<Member, Functions>};
}

// A system library with the functions resolved from it. The module stays loaded as long as the
// record lives, so no pointer outlives its code.
template <typename Functions>
struct SystemFunctions {
  UniqueModule module;
  Functions functions{};
};

// Loads `file_name` from the system folder and resolves every export of `exports`; nothing when
// the library or any one of the exports is missing, so a caller has all of them or none.
template <typename Functions>
std::optional<SystemFunctions<Functions>> LoadSystemFunctions(
    const wchar_t* file_name,
    std::span<const SystemExport<Functions>> exports) noexcept {
  SystemFunctions<Functions> loaded{LoadSystemLibrary(file_name)};
  if (!loaded.module) {
    return std::nullopt;
  }
  for (const SystemExport<Functions>& entry : exports) {
    const FARPROC address = ::GetProcAddress(loaded.module.get(), entry.name);
    if (address == nullptr) {
      return std::nullopt;
    }
    entry.store(loaded.functions, address);
  }
  return loaded;
}

}  // namespace vexo
