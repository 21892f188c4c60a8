#include "fs/file_identity.h"

#include <cstring>
#include <vector>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/last_error.h"
#include "common/ordinal_compare.h"
#include "common/path.h"
#include "fs/messages.h"

namespace vexo {
namespace {

constexpr std::wstring_view kNamespacePrefix = L"\\\\?\\";
// Any opener may hold the file: the handle reads attributes only and is closed at once.
constexpr DWORD kShareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void RejectIdentity() {
  ThrowFailure(message::kLinkedOrChangedPath, error::kAccessDenied);
}

}  // namespace

std::wstring GetFinalPath(HANDLE handle) {
  std::vector<wchar_t> buffer(kLongPathCapacity, L'\0');
  const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(), kLongPathCapacity,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= kLongPathCapacity) {
    ThrowLastError(message::kFinalPathUnknown);
  }
  std::wstring path(buffer.data(), length);
  if (path.size() >= kNamespacePrefix.size() && path.starts_with(kNamespacePrefix)) {
    path.erase(0, kNamespacePrefix.size());
  }
  return path;
}

void CheckHandleIdentity(HANDLE handle, std::wstring_view expected_path, ObjectKind expected) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information)) {
    ThrowLastError(message::kFileInformationUnreadable);
  }
  const DWORD attributes = information.dwFileAttributes;
  const bool folder_expected = expected == ObjectKind::kFolder;
  const bool is_folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || is_folder != folder_expected ||
      (!folder_expected && information.nNumberOfLinks != 1)) {
    RejectIdentity();
  }
  if (!EqualsOrdinalIgnoringCase(GetFinalPath(handle), expected_path)) {
    RejectIdentity();
  }
}

bool operator==(const FileIdentity& a, const FileIdentity& b) noexcept {
  return a.volume_serial == b.volume_serial &&
         std::memcmp(a.file_id.Identifier, b.file_id.Identifier, sizeof(a.file_id.Identifier)) == 0;
}

std::optional<FileIdentity> IdentityOfFile(const std::wstring& path) {
  const UniqueHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareEverything,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
  FILE_ID_INFO information{};
  if (!file ||
      !::GetFileInformationByHandleEx(file.get(), FileIdInfo, &information, sizeof(information))) {
    return std::nullopt;
  }
  return FileIdentity{information.VolumeSerialNumber, information.FileId};
}

bool PathExists(std::wstring_view path) {
  const std::wstring target(path);
  if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return false;
  }
  ThrowFailure(message::kCleanupTargetUnknown, error);
}

}  // namespace vexo
