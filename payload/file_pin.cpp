// Read-only pins on existing files: the launcher's own executable and deployed payload.
#include "common/failure.h"
#include "payload/file_messages.h"
#include "payload/file_open_parameters.h"
#include "payload/file_ops.h"
#include "payload/folder_security.h"

namespace vexo {

UniqueHandle PinFileForReading(std::wstring_view path, bool strict) {
  const std::wstring target(path);
  UniqueHandle file = OpenExisting(target, kPinFileForReading);
  if (!file) {
    const DWORD error = ::GetLastError();
    ThrowFailure(message::kFileNotPinned, error);
  }
  CheckHandleIdentity(file.get(), target, false);
  if (strict) {
    CheckFolderSecurity(file.get(), true);
  }
  return file;
}

}  // namespace vexo
