#include "common/path.h"

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/messages.h"

namespace vexo {
namespace {

bool IsAsciiLetter(wchar_t c) noexcept {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool IsDriveRootName(std::wstring_view root_name) noexcept {
  return root_name.size() == 2 && root_name[1] == L':';
}

// Length of the root name at the start of `path` (0 when there is none).
std::size_t RootNameLength(std::wstring_view path) noexcept {
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == L':') {
    return 2;
  }
  if (path.size() >= 4 && IsPathSeparator(path[3])) {
    // "\\?\", "\\.\" and "\??\" namespace and device prefixes.
    const bool double_separator = IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
    if (double_separator && (path[2] == L'?' || path[2] == L'.')) {
      return 3;
    }
    if (IsPathSeparator(path[0]) && path[1] == L'?' && path[2] == L'?') {
      return 3;
    }
  }
  if (path.size() >= 3 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) &&
      !IsPathSeparator(path[2])) {
    // "\\server": the server name runs up to the next separator.
    std::size_t end = 2;
    while (end < path.size() && !IsPathSeparator(path[end])) {
      ++end;
    }
    return end;
  }
  return 0;
}

std::wstring WithPreferredSeparators(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) {
    if (IsPathSeparator(c)) {
      c = kPreferredSeparator;
    }
  }
  return out;
}

}  // namespace

bool IsPathSeparator(wchar_t c) noexcept {
  return c == L'\\' || c == L'/';
}

PathParts SplitRoot(std::wstring_view path) {
  const std::size_t name_length = RootNameLength(path);
  std::size_t directory_end = name_length;
  while (directory_end < path.size() && IsPathSeparator(path[directory_end])) {
    ++directory_end;
  }
  return PathParts{std::wstring(path.substr(0, name_length)),
                   std::wstring(path.substr(name_length, directory_end - name_length)),
                   std::wstring(path.substr(directory_end))};
}

std::vector<std::wstring> SplitComponents(std::wstring_view relative) {
  std::vector<std::wstring> components;
  std::size_t position = 0;
  while (position < relative.size()) {
    std::size_t end = position;
    while (end < relative.size() && !IsPathSeparator(relative[end])) {
      ++end;
    }
    components.emplace_back(relative.substr(position, end - position));
    if (end == relative.size()) {
      return components;
    }
    while (end < relative.size() && IsPathSeparator(relative[end])) {
      ++end;
    }
    if (end == relative.size()) {
      components.emplace_back();  // trailing separator
    }
    position = end;
  }
  return components;
}

bool IsAbsolutePath(std::wstring_view path) {
  const PathParts parts = SplitRoot(path);
  if (parts.root_name.empty()) {
    return false;
  }
  return !IsDriveRootName(parts.root_name) || !parts.root_directory.empty();
}

std::wstring LexicallyNormal(std::wstring_view path) {
  if (path.empty()) {
    return std::wstring();
  }
  const PathParts parts = SplitRoot(path);
  const bool has_root_directory = !parts.root_directory.empty();

  std::vector<std::wstring> kept;
  bool trailing_separator = false;
  for (const std::wstring& component : SplitComponents(parts.relative)) {
    trailing_separator = false;
    if (component.empty()) {
      trailing_separator = !kept.empty();
      continue;
    }
    if (component == L".") {
      trailing_separator = !kept.empty();
      continue;
    }
    if (component == L"..") {
      if (!kept.empty() && kept.back() != L"..") {
        kept.pop_back();
        trailing_separator = !kept.empty();
        continue;
      }
      if (kept.empty() && has_root_directory) {
        continue;  // nothing lies above the root
      }
    }
    kept.push_back(component);
  }
  if (!kept.empty() && kept.back() == L"..") {
    trailing_separator = false;
  }

  std::wstring normal = WithPreferredSeparators(parts.root_name);
  if (has_root_directory) {
    normal.push_back(kPreferredSeparator);
  }
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) {
      normal.push_back(kPreferredSeparator);
    }
    normal += kept[i];
  }
  if (trailing_separator) {
    normal.push_back(kPreferredSeparator);
  }
  if (normal.empty()) {
    normal = L".";
  }
  return normal;
}

std::wstring ParentPath(std::wstring_view path) {
  const PathParts parts = SplitRoot(path);
  const std::size_t root_length = parts.root_name.size() + parts.root_directory.size();
  if (root_length == path.size()) {
    return std::wstring(path);
  }
  // Drop the last component, then the separators before it, but never into the root.
  std::size_t end = path.size();
  while (end > root_length && !IsPathSeparator(path[end - 1])) {
    --end;
  }
  while (end > root_length && IsPathSeparator(path[end - 1])) {
    --end;
  }
  return std::wstring(path.substr(0, end));
}

std::wstring FileName(std::wstring_view path) {
  const PathParts parts = SplitRoot(path);
  const std::size_t root_length = parts.root_name.size() + parts.root_directory.size();
  std::size_t start = path.size();
  while (start > root_length && !IsPathSeparator(path[start - 1])) {
    --start;
  }
  return std::wstring(path.substr(start));
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
  const PathParts name_parts = SplitRoot(name);
  if (!name_parts.root_name.empty()) {
    return std::wstring(name);
  }
  if (!name_parts.root_directory.empty()) {
    return SplitRoot(folder).root_name + std::wstring(name);
  }
  std::wstring joined(folder);
  const bool needs_separator = !joined.empty() && !IsPathSeparator(joined.back()) &&
                               !(joined.size() == 2 && IsDriveRootName(joined));
  if (needs_separator) {
    joined.push_back(kPreferredSeparator);
  }
  joined += name;
  return joined;
}

void RequireLocalPath(std::wstring_view path) {
  const PathParts parts = SplitRoot(path);
  const bool local = IsAbsolutePath(path) &&
                     (parts.root_name.empty() || !IsPathSeparator(parts.root_name.front())) &&
                     (path.empty() || !IsPathSeparator(path.front()));
  if (!local) {
    ThrowFailure(message::kRunFromLocalFolder, error::kBadPathname);
  }
}

}  // namespace vexo
