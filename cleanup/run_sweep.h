// The inventory of a run folder before anything of it is removed: the run folder and its two
// payload folders may hold only the run's own files and folders, each at its own place.
#pragma once

#include <string_view>

namespace vexo {

// Walks the run folder, `assets` and `assets\fonts` (each only if it exists). Any entry that is
// a reparse point, or is not one of the allowed folders or files at exactly its own place
// (letter case aside), stops the cleanup with Failure 5; nothing is ever changed here.
void CheckNoUnlistedEntries(std::wstring_view run_folder);

}  // namespace vexo
