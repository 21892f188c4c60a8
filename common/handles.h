// Holders for the Windows handle kinds the launcher uses, all from UniqueResource.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <objbase.h>
#include <winsvc.h>

#include <vector>

#include "common/cng.h"
#include "common/unique_resource.h"

namespace vexo {

// Kernel handles (files, folders, processes, threads, jobs, mutexes, events, tokens).
// Both null and INVALID_HANDLE_VALUE mean "no handle".
struct KernelHandleTraits {
  using Type = HANDLE;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// Closes the handles of `held` newest first, in reverse order of acquisition.
inline void CloseNewestFirst(std::vector<UniqueHandle>& held) noexcept {
  while (!held.empty()) {
    held.pop_back();
  }
}

// Directory searches: INVALID_HANDLE_VALUE is what a failed FindFirstFileW returns.
struct FindHandleTraits {
  using Type = HANDLE;
  static inline const Type kNone = INVALID_HANDLE_VALUE;
  static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindClose(h); }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

namespace close_function {

inline void FreeArgv(LPWSTR* argv) noexcept {
  ::LocalFree(argv);
}

}  // namespace close_function

using UniqueServiceHandle = UniqueResource<NullableTraits<SC_HANDLE, &::CloseServiceHandle>>;

// Memory the system allocated with LocalAlloc for us (FormatMessageW, SDDL conversion).
using UniqueLocalMemory = UniqueResource<NullableTraits<HLOCAL, &::LocalFree>>;

// CNG handles, released through the functions resolved from the system folder (common/cng.h).
using UniqueAlgorithmHandle = UniqueResource<NullableTraits<BCRYPT_ALG_HANDLE, &CloseCngAlgorithm>>;
using UniqueHashHandle = UniqueResource<NullableTraits<BCRYPT_HASH_HANDLE, &DestroyCngHash>>;
using UniqueKeyHandle = UniqueResource<NullableTraits<BCRYPT_KEY_HANDLE, &DestroyCngKey>>;

// Strings the shell allocates with CoTaskMemAlloc (known folder paths).
using UniqueCoTaskString = UniqueResource<NullableTraits<PWSTR, &::CoTaskMemFree>>;

// A loaded module (also one loaded as a data or image-resource file).
using UniqueModule = UniqueResource<NullableTraits<HMODULE, &::FreeLibrary>>;

// The argument array of CommandLineToArgvW.
using UniqueArgv = UniqueResource<NullableTraits<LPWSTR*, &close_function::FreeArgv>>;

}  // namespace vexo
