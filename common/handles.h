// Holders for the Windows handle kinds the launcher uses, all from UniqueResource.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <objbase.h>
#include <winsvc.h>

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

struct FindHandleTraits {
  using Type = HANDLE;
  static inline const Type kNone = INVALID_HANDLE_VALUE;
  static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindClose(h); }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

struct ServiceHandleTraits {
  using Type = SC_HANDLE;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::CloseServiceHandle(h); }
};
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;

// Memory the system allocated with LocalAlloc for us (FormatMessageW, SDDL conversion).
struct LocalMemoryTraits {
  using Type = HLOCAL;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::LocalFree(h); }
};
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

struct AlgorithmHandleTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
using UniqueAlgorithmHandle = UniqueResource<AlgorithmHandleTraits>;

struct HashHandleTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};
using UniqueHashHandle = UniqueResource<HashHandleTraits>;

struct KeyHandleTraits {
  using Type = BCRYPT_KEY_HANDLE;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::BCryptDestroyKey(h); }
};
using UniqueKeyHandle = UniqueResource<KeyHandleTraits>;

// Strings the shell allocates with CoTaskMemAlloc (known folder paths).
struct CoTaskStringTraits {
  using Type = PWSTR;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type p) noexcept { return p != nullptr; }
  static void Close(Type p) noexcept { ::CoTaskMemFree(p); }
};
using UniqueCoTaskString = UniqueResource<CoTaskStringTraits>;

// A loaded module (also one loaded as a data or image-resource file).
struct ModuleTraits {
  using Type = HMODULE;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

// The argument array of CommandLineToArgvW.
struct ArgvTraits {
  using Type = LPWSTR*;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { ::LocalFree(h); }
};
using UniqueArgv = UniqueResource<ArgvTraits>;

}  // namespace vexo
