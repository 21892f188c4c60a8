// Creation, opening and removal of the protected folders of a run, each proven on its own
// handle (identity and the strict folder rule) before it is trusted.
#pragma once

#include <windows.h>

#include <string_view>

#include "common/handles.h"

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

// Deletes an empty protected folder after the identity and strict checks.
void DeleteProtectedFolder(std::wstring_view path);

}  // namespace vexo
