#include "fs/file_pin.h"

#include <string>

#include "common/last_error.h"
#include "fs/file_identity.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "fs/open_parameters.h"

namespace vexo {

UniqueHandle PinFileForReading(std::wstring_view path, PinSecurity security) {
  const std::wstring target(path);
  UniqueHandle file = OpenExisting(target, kPinFileForReading);
  if (!file) {
    ThrowLastError(message::kFileNotPinned);
  }
  CheckHandleIdentity(file.get(), target, ObjectKind::kFile);
  if (security == PinSecurity::kStrictRule) {
    CheckFolderSecurity(file.get(), FolderRule::kStrict);
  }
  return file;
}

}  // namespace vexo
