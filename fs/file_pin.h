// Read-only pins on existing files: the launcher's own executable and deployed payload files.
#pragma once

#include <string_view>

#include "common/handles.h"

namespace vexo {

enum class PinSecurity {
  kIdentityOnly,  // the launcher's own file, wherever the customer put it
  kStrictRule,    // a file of a run: also the strict folder rule
};

// Opens an existing file for reading only (others may read, nobody may write, rename or delete
// it) and checks its identity, and with kStrictRule its owner and DACL.
UniqueHandle PinFileForReading(std::wstring_view path, PinSecurity security);

}  // namespace vexo
