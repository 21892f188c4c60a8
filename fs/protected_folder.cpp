#include "fs/protected_folder.h"

#include <string>

#include "common/failure.h"
#include "common/last_error.h"
#include "fs/file_identity.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "fs/security_access.h"

namespace vexo {

UniqueHandle OpenProtectedFolder(std::wstring_view path,
                                 PSECURITY_DESCRIPTOR descriptor,
                                 ExistingFolder existing) {
  const std::wstring folder(path);
  if (descriptor != nullptr && !CreateFolderWithDescriptor(folder, descriptor)) {
    const DWORD error = ::GetLastError();
    if (existing == ExistingFolder::kRefuse || error != ERROR_ALREADY_EXISTS) {
      ThrowFailure(message::kProtectedFolderNotNew, error);
    }
  }
  UniqueHandle handle = OpenExisting(folder, kOpenProtectedFolder);
  if (!handle) {
    ThrowLastError(message::kProtectedFolderNotOpened);
  }
  CheckHandleIdentity(handle.get(), folder, ObjectKind::kFolder);
  CheckFolderSecurity(handle.get(), FolderRule::kStrict);
  return handle;
}

UniqueHandle OpenForDeletion(const std::wstring& path,
                             const OpenParameters& parameters,
                             const wchar_t* failure_message,
                             ULONGLONG deadline) {
  for (;;) {
    UniqueHandle object = OpenExisting(path, parameters);
    if (object) {
      return object;
    }
    const DWORD error = ::GetLastError();
    const bool held_by_other = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    if (!held_by_other || ::GetTickCount64() >= deadline) {
      ThrowFailure(failure_message, error);
    }
    ::Sleep(kDeleteRetryIntervalMs);
  }
}

void DeleteProtectedFolder(std::wstring_view path) {
  const std::wstring folder(path);
  const ULONGLONG deadline = ::GetTickCount64() + kDeleteRetryLimitMs;
  for (;;) {
    const UniqueHandle handle = OpenForDeletion(folder, kDeleteProtectedFolder,
                                                message::kFolderNotOpenedForCleanup, deadline);
    CheckHandleIdentity(handle.get(), folder, ObjectKind::kFolder);
    CheckFolderSecurity(handle.get(), FolderRule::kStrict);
    if (SetDeleteDisposition(handle.get())) {
      return;  // closing the handle removes the folder
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_DIR_NOT_EMPTY || ::GetTickCount64() >= deadline) {
      ThrowFailure(message::kTemporaryFilesNotCleaned, error);
    }
    ::Sleep(kDeleteRetryIntervalMs);
  }
}

}  // namespace vexo
