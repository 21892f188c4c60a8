#include "update/update_files_win.h"

#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>

#include <array>
#include <limits>

#include "common/cng.h"
#include "common/hex.h"
#include "common/path.h"
#include "common/sha256.h"
#include "update/manifest_verify_win.h"
#include "update/update_error.h"
#include "update/update_names.h"

namespace vexo {
namespace {

constexpr DWORD kKindAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
constexpr DWORD kMaxTokenInformationBytes = 65535;
// A handle that only reads attributes takes no part in the sharing checks, so it keeps nobody
// from renaming or deleting the folder; one that may list the folder does, and with delete not
// shared, nobody can rename, move or delete the folder while the handle is open.
constexpr DWORD kFolderPinAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr DWORD kFolderPinShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kNoReparseBackupSemantics =
    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

DWORD Attributes(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  RequireUpdate(attributes != INVALID_FILE_ATTRIBUTES);
  return attributes;
}

UniqueHandle OpenProcessToken(HANDLE process) {
  UniqueHandle token;
  RequireUpdate(::OpenProcessToken(process, TOKEN_QUERY, token.put()) != FALSE);
  return token;
}

// The token information of one class, in a zeroed buffer of the size the system asks for.
std::vector<std::uint8_t> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  ::GetTokenInformation(token, kind, nullptr, 0, &size);
  RequireUpdate(size > 0 && size <= kMaxTokenInformationBytes);
  std::vector<std::uint8_t> buffer(size, 0);
  RequireUpdate(::GetTokenInformation(token, kind, buffer.data(), size, &size) != FALSE);
  return buffer;
}

// "C:\" then a separator; never "\\" (network and device paths).
bool HasDriveRoot(std::wstring_view path) noexcept {
  return path.size() >= 3 &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
         path[1] == L':' && IsPathSeparator(path[2]);
}

std::wstring WithoutTrailingSeparators(std::wstring_view path) {
  while (path.size() > 3 && IsPathSeparator(path.back())) {
    path.remove_suffix(1);
  }
  return std::wstring(path);
}

}  // namespace

std::wstring RandomHex32() {
  const CngFunctions* cng = Cng();
  RequireUpdate(cng != nullptr);
  std::array<std::uint8_t, kRandomNameBytes> bytes{};
  RequireUpdate(cng->gen_random(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0);
  return ToLowerHexWide(bytes);
}

std::wstring CurrentUserSidString(HANDLE process) {
  const UniqueHandle token = OpenProcessToken(process);
  const std::vector<std::uint8_t> user = TokenInformation(token.get(), TokenUser);
  wchar_t* text = nullptr;
  RequireUpdate(::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid,
                                         &text) != FALSE);
  const UniqueLocalMemory owner(text);
  return std::wstring(text);
}

bool IsCurrentProcessElevated() {
  const UniqueHandle token = OpenProcessToken(::GetCurrentProcess());
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  RequireUpdate(::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation),
                                      &size) != FALSE);
  return elevation.TokenIsElevated != 0;
}

void CreateStagingFolder(const std::wstring& path) {
  const std::wstring sddl =
      kStagingFolderSddlPrefix + CurrentUserSidString(::GetCurrentProcess()) + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  RequireUpdate(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                    sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr) != FALSE);
  const UniqueLocalMemory owner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  RequireUpdate(::CreateDirectoryW(path.c_str(), &attributes) != FALSE);
}

FolderRootPin PinFolderToRoot(std::wstring_view path) {
  RequireUpdate(HasDriveRoot(path));
  FolderRootPin pin;
  std::wstring folder = WithoutTrailingSeparators(path);
  for (;;) {
    RequireUpdate((Attributes(folder) & kKindAttributes) == FILE_ATTRIBUTE_DIRECTORY);
    UniqueHandle handle(::CreateFileW(folder.c_str(), kFolderPinAccess, kFolderPinShare, nullptr,
                                      OPEN_EXISTING, kNoReparseBackupSemantics, nullptr));
    RequireUpdate(handle.valid());
    pin.push_back(std::move(handle));
    std::wstring parent = WithoutTrailingSeparators(ParentPath(folder));
    if (parent == folder || parent.empty()) {
      return pin;
    }
    folder = std::move(parent);
  }
}

UniqueHandle OpenFileForReading(const std::wstring& path) {
  RequireUpdate((Attributes(path) & kKindAttributes) == 0);
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  RequireUpdate(file.valid());
  return file;
}

std::vector<std::uint8_t> ReadOpenFile(HANDLE file, std::uint64_t limit) {
  BY_HANDLE_FILE_INFORMATION information{};
  RequireUpdate(::GetFileInformationByHandle(file, &information) != FALSE);
  RequireUpdate(information.nNumberOfLinks == 1 && information.nFileSizeHigh == 0 &&
                information.nFileSizeLow <= limit);
  std::vector<std::uint8_t> content(information.nFileSizeLow);
  DWORD read = 0;
  RequireUpdate(::ReadFile(file, content.data(), information.nFileSizeLow, &read, nullptr) !=
                    FALSE &&
                read == information.nFileSizeLow);
  return content;
}

std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path, std::uint64_t limit) {
  return ReadOpenFile(OpenFileForReading(path).get(), limit);
}

std::string BytesAsText(std::span<const std::uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

UniqueHandle WriteNewFileUnflushed(const std::wstring& path, std::span<const std::uint8_t> bytes) {
  RequireUpdate(bytes.size() <= std::numeric_limits<DWORD>::max());
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  RequireUpdate(file.valid());
  DWORD written = 0;
  if (::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ==
          FALSE ||
      written != bytes.size()) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                 sizeof(disposition));
    ThrowUpdateValidationFailed();
  }
  return file;
}

void WriteNewFile(const std::wstring& path, std::span<const std::uint8_t> bytes) {
  RequireUpdate(::FlushFileBuffers(WriteNewFileUnflushed(path, bytes).get()) != FALSE);
}

void WriteNewFile(const std::wstring& path, std::string_view text) {
  WriteNewFile(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

UniqueLocalMemory ReadFileDacl(HANDLE file) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  RequireUpdate(::GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  nullptr, nullptr, &descriptor) == ERROR_SUCCESS);
  return UniqueLocalMemory(descriptor);
}

void GiveFileDacl(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor) {
  const UniqueHandle file(::CreateFileW(path.c_str(), WRITE_DAC, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  RequireUpdate(file.valid());
  RequireUpdate(::SetKernelObjectSecurity(file.get(), DACL_SECURITY_INFORMATION, descriptor) !=
                FALSE);
}

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  return ToLowerHex(UpdateSha256(bytes));
}

std::string FileSha256Hex(const std::wstring& path) {
  return Sha256Hex(ReadWholeFile(path, kMaxHashedFileBytes));
}

std::uint64_t ProcessCreationTime(HANDLE process) {
  FILETIME creation{};
  FILETIME exit{};
  FILETIME kernel{};
  FILETIME user{};
  RequireUpdate(::GetProcessTimes(process, &creation, &exit, &kernel, &user) != FALSE);
  return (std::uint64_t{creation.dwHighDateTime} << 32) | creation.dwLowDateTime;
}

std::wstring CurrentModulePath() {
  std::vector<wchar_t> buffer(kLongPathCapacity, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), kLongPathCapacity);
  RequireUpdate(length != 0 && length < kLongPathCapacity);
  return std::wstring(buffer.data(), length);
}

}  // namespace vexo
