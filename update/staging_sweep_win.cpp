#include "update/staging_sweep_win.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/handles.h"
#include "common/ordinal_compare.h"
#include "common/path.h"
#include "update/update_files_win.h"
#include "update/update_names.h"

namespace vexo {
namespace {

constexpr std::size_t kListingBytes = 16384;
constexpr DWORD kKindAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
// Delete access to a folder is refused while a pin holds it: a pin reads the folder's entries
// and does not share delete (PinFolderToRoot).
constexpr DWORD kFolderRemovalAccess =
    DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kFolderRemovalShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// An entry is opened exclusively: a file that anyone has open is not removed.
constexpr DWORD kEntryRemovalAccess = DELETE | FILE_READ_ATTRIBUTES;
constexpr DWORD kNoReparseBackupSemantics =
    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// What the launcher writes into a staging folder, besides the copy of the program.
constexpr std::array<const wchar_t*, 5> kStagingFileNames = {
    kNewProgramFileName, kPreviousProgramFileName, kFailedProgramFileName, kPlanFileName,
    kAppliedFileName};

std::vector<std::wstring> StagingFolders(const std::wstring& program_folder) {
  std::vector<std::wstring> folders;
  WIN32_FIND_DATAW entry{};
  const UniqueFindHandle search(::FindFirstFileW(
      JoinPath(program_folder, std::wstring(kStagingFolderPrefix) + L"*").c_str(), &entry));
  for (bool more = search.valid(); more; more = ::FindNextFileW(search.get(), &entry) != FALSE) {
    if (IsStagingFolderName(entry.cFileName)) {
      folders.push_back(JoinPath(program_folder, entry.cFileName));
    }
  }
  return folders;
}

// The names in the folder that `folder` holds, read through that handle, "." and ".." left out;
// false when the listing broke off.
bool ListHeldFolder(HANDLE folder, std::vector<std::wstring>& names) {
  alignas(FILE_ID_BOTH_DIR_INFO) std::array<std::uint8_t, kListingBytes> buffer{};
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (::GetFileInformationByHandleEx(folder, kind, buffer.data(),
                                        static_cast<DWORD>(buffer.size())) != FALSE) {
    kind = FileIdBothDirectoryInfo;
    for (std::size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
      const std::wstring_view name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        names.emplace_back(name);
      }
      if (entry->NextEntryOffset == 0) {
        break;
      }
      offset += entry->NextEntryOffset;
    }
  }
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

// `path` opened without following a reparse point, when the handle shows the expected kind (a
// folder, or a file with one link); no handle otherwise.
UniqueHandle OpenChecked(const std::wstring& path,
                         DWORD access,
                         DWORD share,
                         DWORD kind,
                         BY_HANDLE_FILE_INFORMATION& information) {
  UniqueHandle object(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                    kNoReparseBackupSemantics, nullptr));
  if (!object || ::GetFileInformationByHandle(object.get(), &information) == FALSE ||
      (information.dwFileAttributes & kKindAttributes) != kind ||
      (kind == 0 && information.nNumberOfLinks != 1)) {
    return UniqueHandle();
  }
  return object;
}

// A staging folder that no pin holds, opened for its removal.
UniqueHandle OpenIdleFolder(const std::wstring& folder, BY_HANDLE_FILE_INFORMATION& information) {
  return OpenChecked(folder, kFolderRemovalAccess, kFolderRemovalShare, FILE_ATTRIBUTE_DIRECTORY,
                     information);
}

bool IsLauncherFileName(std::wstring_view name, std::wstring_view program_name) {
  bool known = EqualsOrdinalIgnoringCase(name, program_name);
  for (const wchar_t* file_name : kStagingFileNames) {
    known = EqualsOrdinalIgnoringCase(name, file_name) || known;
  }
  return known;
}

bool MarkForDeletion(HANDLE object) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(object, FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != FALSE;
}

// Deletes the entries of the folder `folder` (held by `held`) when each is a file the launcher
// writes, checked through its own handle; nothing is deleted when one is not. The handles close
// (and the files go) on return.
bool RemoveEntries(const std::wstring& folder, HANDLE held, std::wstring_view program_name) {
  std::vector<std::wstring> names;
  if (!ListHeldFolder(held, names)) {
    return false;
  }
  std::vector<UniqueHandle> entries;
  for (const std::wstring& name : names) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!IsLauncherFileName(name, program_name)) {
      return false;
    }
    entries.push_back(OpenChecked(JoinPath(folder, name), kEntryRemovalAccess, 0, 0, information));
    if (!entries.back()) {
      return false;
    }
  }
  return std::all_of(entries.begin(), entries.end(),
                     [](const UniqueHandle& entry) { return MarkForDeletion(entry.get()); });
}

std::uint64_t FileTimeValue(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

bool HoldsFailedRelease(const std::wstring& folder, std::string_view sha256) noexcept {
  try {
    return FileSha256Hex(JoinPath(folder, kFailedProgramFileName)) == sha256;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool ReleaseFailedHere(const std::wstring& program_folder, std::string_view sha256) noexcept {
  try {
    const std::vector<std::wstring> folders = StagingFolders(program_folder);
    return std::any_of(folders.begin(), folders.end(), [sha256](const std::wstring& folder) {
      return HoldsFailedRelease(folder, sha256);
    });
  } catch (...) {
    return false;
  }
}

void SweepFinishedStagingFolders(const std::wstring& program_folder,
                                 std::wstring_view program_name) noexcept {
  try {
    std::vector<std::pair<std::uint64_t, std::wstring>> idle;
    for (std::wstring& folder : StagingFolders(program_folder)) {
      BY_HANDLE_FILE_INFORMATION information{};
      if (OpenIdleFolder(folder, information)) {
        idle.emplace_back(FileTimeValue(information.ftCreationTime), std::move(folder));
      }
    }
    std::sort(idle.begin(), idle.end());
    for (std::size_t i = 0; i + 1 < idle.size(); ++i) {
      RemoveStagingFolder(idle[i].second, program_name);
    }
  } catch (...) {
  }
}

bool RemoveStagingFolder(const std::wstring& folder, std::wstring_view program_name) noexcept {
  try {
    BY_HANDLE_FILE_INFORMATION information{};
    const UniqueHandle held = OpenIdleFolder(folder, information);
    return held && RemoveEntries(folder, held.get(), program_name) && MarkForDeletion(held.get());
  } catch (...) {
    return false;
  }
}

}  // namespace vexo
