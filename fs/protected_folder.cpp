#include "fs/protected_folder.h"

#include <string>

#include "common/failure.h"
#include "common/last_error.h"
#include "fs/file_identity.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "fs/open_parameters.h"
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

void DeleteProtectedFolder(std::wstring_view path) {
  const std::wstring folder(path);
  UniqueHandle handle = OpenExisting(folder, kDeleteProtectedFolder);
  if (!handle) {
    ThrowLastError(message::kFolderNotOpenedForCleanup);
  }
  CheckHandleIdentity(handle.get(), folder, ObjectKind::kFolder);
  CheckFolderSecurity(handle.get(), FolderRule::kStrict);
  if (!SetDeleteDisposition(handle.get())) {
    ThrowLastError(message::kTemporaryFilesNotCleaned);
  }
  // Closing the handle removes the folder.
}

}  // namespace vexo
