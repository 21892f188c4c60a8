// The product's access to file and folder security.
//
// In the test flavour VEXO_EMULATED_FILE_SECURITY, Windows is still asked for everything,
// and the descriptors given at creation are also recorded and answered from the record,
// because Wine forgets them (docs/emulated-file-security.md). The flavour touches only the
// marked lines of this file.
#include "fs/security_access.h"

#include <aclapi.h>

#if defined(VEXO_EMULATED_FILE_SECURITY)
#include "fs/emulated_security_store.h"
#endif

namespace vexo {
namespace {

// FileDispositionInfoEx, which MinGW-w64's headers hide behind a version test they cannot pass.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

// Answers of a system or file system without POSIX delete semantics: Windows before 10 version
// 1709, file systems other than NTFS, and Wine 8 (87). The legacy disposition is used there.
bool PosixDeleteUnavailable(DWORD error) noexcept {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_FUNCTION;
}

// Length 24 on x64, not inheritable; null descriptor means default security.
SECURITY_ATTRIBUTES AttributesFor(PSECURITY_DESCRIPTOR descriptor) {
  return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
}

#if defined(VEXO_EMULATED_FILE_SECURITY)
// Records the descriptor a folder was created with, on a handle of its own.
bool RecordFolderDescriptor(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor) {
  UniqueHandle folder(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) {
    return false;
  }
  emulated_security::RecordDescriptor(
      folder.get(), emulated_security::StoredForm(descriptor, ObjectKind::kFolder).get());
  return true;
}
#endif

}  // namespace

DWORD ReadObjectSecurity(HANDLE object, UniqueLocalMemory& descriptor) {
#if defined(VEXO_EMULATED_FILE_SECURITY)
  if (UniqueLocalMemory recorded = emulated_security::FindRecordedDescriptor(object)) {
    descriptor = std::move(recorded);
    return ERROR_SUCCESS;
  }
#endif
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD error = ::GetSecurityInfo(object, SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, nullptr, &dacl, nullptr, &read);
  descriptor.reset(read);
  return error;
}

bool CreateFolderWithDescriptor(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_ATTRIBUTES attributes = AttributesFor(descriptor);
  if (!::CreateDirectoryW(path.c_str(), descriptor != nullptr ? &attributes : nullptr)) {
    return false;
  }
#if defined(VEXO_EMULATED_FILE_SECURITY)
  if (descriptor != nullptr) {
    return RecordFolderDescriptor(path, descriptor);
  }
#endif
  return true;
}

UniqueHandle CreateFileWithDescriptor(const std::wstring& path,
                                      DWORD desired_access,
                                      DWORD share_mode,
                                      DWORD flags_and_attributes,
                                      PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_ATTRIBUTES attributes = AttributesFor(descriptor);
  UniqueHandle file(::CreateFileW(path.c_str(), desired_access, share_mode,
                                  descriptor != nullptr ? &attributes : nullptr, CREATE_NEW,
                                  flags_and_attributes, nullptr));
#if defined(VEXO_EMULATED_FILE_SECURITY)
  if (file && descriptor != nullptr) {
    emulated_security::RecordDescriptor(
        file.get(), emulated_security::StoredForm(descriptor, ObjectKind::kFile).get());
  }
#endif
  return file;
}

bool SetDeleteDisposition(HANDLE object) {
  FILE_DISPOSITION_INFO_EX posix{FILE_DISPOSITION_FLAG_DELETE |
                                 FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
  bool marked =
      ::SetFileInformationByHandle(object, kFileDispositionInfoEx, &posix, sizeof(posix)) != FALSE;
  if (!marked && PosixDeleteUnavailable(::GetLastError())) {
    FILE_DISPOSITION_INFO legacy{TRUE};
    marked =
        ::SetFileInformationByHandle(object, FileDispositionInfo, &legacy, sizeof(legacy)) != FALSE;
  }
  if (!marked) {
    return false;
  }
#if defined(VEXO_EMULATED_FILE_SECURITY)
  emulated_security::DropRecord(object);
#endif
  return true;
}

}  // namespace vexo
