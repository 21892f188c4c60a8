// Creation, opening and removal of the protected folders of a run.
#include "common/failure.h"
#include "payload/file_messages.h"
#include "payload/file_open_parameters.h"
#include "payload/file_ops.h"
#include "payload/folder_security.h"
#include "payload/security_access.h"

namespace vexo {

UniqueHandle OpenProtectedFolder(std::wstring_view path,
                                 PSECURITY_DESCRIPTOR descriptor,
                                 bool must_be_new) {
  const std::wstring folder(path);
  if (descriptor != nullptr && !CreateFolderWithDescriptor(folder, descriptor)) {
    const DWORD error = ::GetLastError();
    if (must_be_new || error != ERROR_ALREADY_EXISTS) {
      ThrowFailure(message::kProtectedFolderNotNew, error);
    }
  }
  UniqueHandle handle = OpenExisting(folder, kOpenProtectedFolder);
  if (!handle) {
    const DWORD error = ::GetLastError();
    ThrowFailure(message::kProtectedFolderNotOpened, error);
  }
  CheckHandleIdentity(handle.get(), folder, true);
  CheckFolderSecurity(handle.get(), true);
  return handle;
}

void DeleteProtectedFolder(std::wstring_view path) {
  const std::wstring folder(path);
  UniqueHandle handle = OpenExisting(folder, kDeleteProtectedFolder);
  if (!handle) {
    const DWORD error = ::GetLastError();
    ThrowFailure(message::kFolderNotOpenedForCleanup, error);
  }
  CheckHandleIdentity(handle.get(), folder, true);
  CheckFolderSecurity(handle.get(), true);
  if (!SetDeleteDisposition(handle.get())) {
    const DWORD error = ::GetLastError();
    ThrowFailure(message::kTemporaryFilesNotCleaned, error);
  }
  // Closing the handle removes the folder.
}

}  // namespace vexo
