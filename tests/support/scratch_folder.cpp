#include "tests/support/scratch_folder.h"

#include <windows.h>

#include <bcrypt.h>

#include <array>
#include <cstdint>

#include "common/handles.h"
#include "tests/support/resource_patcher.h"
#include "tests/support/support_error.h"

namespace vexo::test {
namespace {

std::wstring RandomHex(std::size_t bytes) {
  std::array<std::uint8_t, 32> buffer{};
  if (bytes > buffer.size() ||
      !BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, buffer.data(), static_cast<ULONG>(bytes),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    ThrowSupportError("cannot make a random folder name", 0);
  }
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (std::size_t i = 0; i < bytes; ++i) {
    text += kDigits[buffer[i] >> 4];
    text += kDigits[buffer[i] & 0x0F];
  }
  return text;
}

void EnsureFolder(const std::wstring& path) {
  if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    ThrowSupportError("cannot create " + ToUtf8(path), ::GetLastError());
  }
}

bool RemoveContents(const std::wstring& path);

bool RemoveEntry(const std::wstring& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    // A folder link is removed as a folder without entering it.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && !RemoveContents(path)) {
      return false;
    }
    return ::RemoveDirectoryW(path.c_str()) != FALSE || ::GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  return ::DeleteFileW(path.c_str()) != FALSE;
}

// Removes what is inside the folder `path`; the folder itself stays.
bool RemoveContents(const std::wstring& path) {
  WIN32_FIND_DATAW entry{};
  const std::wstring pattern = path + L"\\*";
  UniqueFindHandle find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                           FindExSearchNameMatch, nullptr, 0));
  if (!find) {
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  bool removed_all = true;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") {
      continue;
    }
    removed_all = RemoveEntry(path + L"\\" + name, entry.dwFileAttributes) && removed_all;
  } while (::FindNextFileW(find.get(), &entry));
  return removed_all;
}

}  // namespace

bool RemoveTree(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  return RemoveEntry(path, attributes);
}

ScratchFolder::ScratchFolder(const std::wstring& label) {
  EnsureFolder(kScratchRoot);
  path_ = std::wstring(kScratchRoot) + L"\\" + label + L"-" + RandomHex(8);
  if (!::CreateDirectoryW(path_.c_str(), nullptr)) {
    ThrowSupportError("cannot create the scratch folder " + ToUtf8(path_), ::GetLastError());
  }
}

ScratchFolder::~ScratchFolder() {
  RemoveTree(path_);
}

std::wstring ScratchFolder::PathOf(const std::wstring& name) const {
  return path_ + L"\\" + name;
}

std::wstring ScratchFolder::CopyIn(const std::wstring& source, const std::wstring& name) const {
  const std::wstring destination = PathOf(name);
  CopyFileFresh(source, destination);
  return destination;
}

}  // namespace vexo::test
