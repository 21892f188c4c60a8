#include "fs/chain_pin.h"

#include <utility>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/last_error.h"
#include "common/path.h"
#include "fs/file_identity.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "fs/open_parameters.h"

namespace vexo {

DirectoryChainPin::DirectoryChainPin(DirectoryChainPin&& other) noexcept
    : handles_(std::move(other.handles_)), paths_(std::move(other.paths_)) {
  other.handles_.clear();
  other.paths_.clear();
}

DirectoryChainPin& DirectoryChainPin::operator=(DirectoryChainPin&& other) noexcept {
  if (this != &other) {
    CloseInListOrder();
    handles_ = std::move(other.handles_);
    paths_ = std::move(other.paths_);
    other.handles_.clear();
    other.paths_.clear();
  }
  return *this;
}

DirectoryChainPin::~DirectoryChainPin() {
  CloseInListOrder();
}

void DirectoryChainPin::Append(UniqueHandle folder, std::wstring path) {
  paths_.reserve(paths_.size() + 1);
  handles_.push_back(std::move(folder));
  paths_.push_back(std::move(path));
}

void DirectoryChainPin::CloseInListOrder() noexcept {
  for (UniqueHandle& folder : handles_) {
    folder.reset();
  }
  handles_.clear();
  paths_.clear();
}

DirectoryChainPin PinFolderChain(std::wstring_view folder, ChainSecurity security) {
  RequireLocalPath(folder);
  const PathParts parts = SplitRoot(folder);
  // A local path always has a drive and a root directory; the pinned paths use the one
  // separator Windows reports in final paths.
  std::wstring current = parts.root_name + kPreferredSeparator;
  DirectoryChainPin pin;
  for (const std::wstring& component : SplitComponents(parts.relative)) {
    if (component.empty()) {
      continue;  // a trailing separator names the same folder
    }
    if (component == L"." || component == L"..") {
      ThrowFailure(message::kFolderPathInvalid, error::kBadPathname);
    }
    current = JoinPath(current, component);
    UniqueHandle handle = OpenExisting(current, kOpenProtectedFolder);
    if (!handle) {
      ThrowLastError(message::kExecutionPathNotPinned);
    }
    CheckHandleIdentity(handle.get(), current, ObjectKind::kFolder);
    if (security == ChainSecurity::kRelaxedRule) {
      CheckFolderSecurity(handle.get(), FolderRule::kRelaxed);
    }
    pin.Append(std::move(handle), current);
  }
  return pin;
}

}  // namespace vexo
