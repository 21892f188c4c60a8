// Creation, opening and removal of the protected folders of a run, each proven on its own
// handle (identity and the strict folder rule) before it is trusted.
#pragma once

#include <windows.h>

#include <string_view>

#include "common/handles.h"
#include "fs/open_parameters.h"

namespace vexo {

// What creating a folder that already exists means.
enum class ExistingFolder {
  kRefuse,  // a run's own folders: only ever new
  kReuse,   // the base folder, shared by all runs
};

// Creates the folder with `descriptor` when one is given, opens it, and checks identity and the
// strict rule. Without a descriptor nothing is created. The caller keeps the handle for as long
// as it relies on the folder.
UniqueHandle OpenProtectedFolder(std::wstring_view path,
                                 PSECURITY_DESCRIPTOR descriptor,
                                 ExistingFolder existing);

// How long, and how often, a deletion that another program stands in the way of is retried.
inline constexpr ULONGLONG kDeleteRetryLimitMs = 5000;
inline constexpr DWORD kDeleteRetryIntervalMs = 100;

// Opens `path` with `parameters` for its deletion. A sharing or lock violation is retried every
// kDeleteRetryIntervalMs until the tick count `deadline`; then, or on any other error, Failure
// with `failure_message` and the Windows error.
UniqueHandle OpenForDeletion(const std::wstring& path,
                             const OpenParameters& parameters,
                             const wchar_t* failure_message,
                             ULONGLONG deadline);

// Deletes an empty protected folder after the identity and strict checks. A folder that is held
// open, or not empty yet because a file in it is still held by another program under the legacy
// delete disposition, is retried for kDeleteRetryLimitMs; then the Windows error is the Failure's.
void DeleteProtectedFolder(std::wstring_view path);

}  // namespace vexo
