// What the startup check reads and removes of earlier updates: the staging folders beside the
// program are the only record the update keeps. A "failed.exe" in one of them says that release
// did not come up here, so it is not downloaded again; folders whose work is finished are
// removed, the newest one kept, so they do not pile up beside the program.
//
// A folder is removed only when nobody works in it and it holds nothing but what the launcher
// writes there: the startup check and the worker pin their folder without delete sharing for as
// long as they use it, so a folder in use cannot be opened for deletion; every entry must be a
// file of a name the launcher writes, not a reparse point, with one link, checked and removed
// through its own handle; a folder with any other entry is left as it is.
#pragma once

#include <string>
#include <string_view>

namespace vexo {

// Whether a staging folder beside the program holds a "failed.exe" whose SHA-256 is `sha256`.
bool ReleaseFailedHere(const std::wstring& program_folder, std::string_view sha256) noexcept;

// Removes the finished staging folders beside the program `program_name` but the newest. Never
// throws; what cannot be removed stays.
void SweepFinishedStagingFolders(const std::wstring& program_folder,
                                 std::wstring_view program_name) noexcept;

// Removes one staging folder of the program `program_name` when it is finished and holds only
// what the launcher writes. False when it stays. Never throws.
bool RemoveStagingFolder(const std::wstring& folder, std::wstring_view program_name) noexcept;

}  // namespace vexo
