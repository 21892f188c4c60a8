#include "cleanup/run_sweep.h"

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "cleanup/messages.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/last_error.h"
#include "common/ordinal_compare.h"
#include "common/path.h"
#include "fs/messages.h"
#include "payload/catalogue.h"

namespace vexo {
namespace {

constexpr wchar_t kEveryEntry[] = L"*";

// The allowed folders or files of the run, as full paths.
template <std::size_t Count>
std::vector<std::wstring> FullPaths(std::wstring_view run_folder,
                                    const std::array<const wchar_t*, Count>& relative_paths) {
  std::vector<std::wstring> paths;
  paths.reserve(Count);
  for (const wchar_t* relative : relative_paths) {
    paths.push_back(JoinPath(run_folder, relative));
  }
  return paths;
}

// Whether `path` equals one of `allowed`. The whole list is compared every time.
bool IsOneOf(std::wstring_view path, const std::vector<std::wstring>& allowed) {
  bool found = false;
  for (const std::wstring& candidate : allowed) {
    found = EqualsOrdinalIgnoringCase(path, candidate) || found;
  }
  return found;
}

struct AllowedEntries {
  std::vector<std::wstring> folders;
  std::vector<std::wstring> files;
};

bool IsUnlistedEntry(const std::wstring& folder,
                     const WIN32_FIND_DATAW& entry,
                     const AllowedEntries& allowed) {
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return true;
  }
  const std::wstring path = JoinPath(folder, entry.cFileName);
  const bool is_folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return !IsOneOf(path, is_folder ? allowed.folders : allowed.files);
}

bool IsDotEntry(const WIN32_FIND_DATAW& entry) {
  const std::wstring_view name = entry.cFileName;
  return name == L"." || name == L"..";
}

// False when the folder is not there (it or its parent missing).
bool InventoriedFolderExists(const std::wstring& folder) {
  if (::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return false;
  }
  ThrowFailure(message::kCleanupTargetUnknown, error);
}

void CheckFolderEntries(const std::wstring& folder, const AllowedEntries& allowed) {
  if (!InventoriedFolderExists(folder)) {
    return;
  }
  WIN32_FIND_DATAW entry{};
  UniqueFindHandle search(::FindFirstFileW(JoinPath(folder, kEveryEntry).c_str(), &entry));
  if (!search) {
    ThrowLastError(message::kCleanupFolderUnreadable);
  }
  bool unlisted = false;
  do {
    if (!IsDotEntry(entry) && IsUnlistedEntry(folder, entry, allowed)) {
      unlisted = true;
      break;
    }
  } while (::FindNextFileW(search.get(), &entry));
  const DWORD walk_error = ::GetLastError();
  search.reset();
  if (unlisted) {
    ThrowFailure(message::kUnknownFilesKept, error::kAccessDenied);
  }
  if (walk_error != ERROR_NO_MORE_FILES) {
    ThrowFailure(message::kCleanupFolderCheckIncomplete, walk_error);
  }
}

}  // namespace

void CheckNoUnlistedEntries(std::wstring_view run_folder) {
  const AllowedEntries allowed{FullPaths(run_folder, kAllowedFolders),
                               FullPaths(run_folder, kAllowedFiles)};
  std::vector<std::wstring> inventoried{std::wstring(run_folder)};
  inventoried.insert(inventoried.end(), allowed.folders.begin(), allowed.folders.end());
  for (const std::wstring& folder : inventoried) {
    CheckFolderEntries(folder, allowed);
  }
}

}  // namespace vexo
