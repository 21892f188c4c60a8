// The launcher's path model: Windows path grammar on wide strings, worked out lexically
// (nothing on the disk is consulted). Both '\' and '/' separate; '\' is always produced.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexo {

inline constexpr wchar_t kPreferredSeparator = L'\\';

// Characters of the longest path Windows hands out (module names, final paths), with room for
// the terminator; a result of this length or more was cut.
inline constexpr unsigned long kLongPathCapacity = 32768;

struct PathParts {
  std::wstring root_name;       // "C:", "\\server", "\\?", "\\.", "\??" or empty
  std::wstring root_directory;  // the separators right after the root name, as written
  std::wstring relative;        // everything after the root
};

bool IsPathSeparator(wchar_t c) noexcept;

PathParts SplitRoot(std::wstring_view path);

// The components of the relative part, split at runs of separators. A trailing separator
// yields a final empty component.
std::vector<std::wstring> SplitComponents(std::wstring_view relative);

bool IsAbsolutePath(std::wstring_view path);

// Separators unified, runs collapsed, "." dropped, "name\.." pairs dropped, ".." right
// after a root directory dropped.
std::wstring LexicallyNormal(std::wstring_view path);

// The path without its last component and the separators before it; a root stays.
std::wstring ParentPath(std::wstring_view path);

// The last component; empty when the path ends in a separator or is only a root.
std::wstring FileName(std::wstring_view path);

// Appends `name` with one separator unless `folder` already ends in one. An absolute (or
// root-named) `name` replaces the folder.
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// Accepts exactly the paths that begin with a drive letter, a colon and a separator.
// Throws Failure 161 with the local-folder message otherwise.
void RequireLocalPath(std::wstring_view path);

}  // namespace vexo
