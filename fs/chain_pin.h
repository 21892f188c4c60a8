// Folder chain pins: every folder on the way to a folder, held open so that nobody can
// rename, delete or swap any of them while the launcher relies on the path.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/handles.h"

namespace vexo {

enum class ChainSecurity {
  kIdentityOnly,  // the launcher's own folder, wherever the customer put it
  kRelaxedRule,   // folders a run works under: also the relaxed folder rule
};

// Open folder handles from the first component below the root down to the pinned folder,
// in that order, with the path each was opened at. The root itself is never opened. The
// handles are closed in list order when the pin is dropped. Moves, never copies.
class DirectoryChainPin {
 public:
  DirectoryChainPin() = default;
  DirectoryChainPin(DirectoryChainPin&& other) noexcept;
  DirectoryChainPin& operator=(DirectoryChainPin&& other) noexcept;
  DirectoryChainPin(const DirectoryChainPin&) = delete;
  DirectoryChainPin& operator=(const DirectoryChainPin&) = delete;
  ~DirectoryChainPin();

  void Append(UniqueHandle folder, std::wstring path);

  std::size_t size() const noexcept { return handles_.size(); }
  HANDLE handle(std::size_t index) const noexcept { return handles_[index].get(); }
  const std::vector<std::wstring>& paths() const noexcept { return paths_; }

 private:
  void CloseInListOrder() noexcept;

  std::vector<UniqueHandle> handles_;
  std::vector<std::wstring> paths_;
};

// Pins every folder of `folder` (a local path) below its root. Each folder is opened
// without following reparse points and without delete sharing, then proven by
// CheckHandleIdentity; with kRelaxedRule each must also pass the relaxed folder rule.
// A "." or ".." component refuses the path (Failure 161). On any failure the folders
// already opened are released and the Failure propagates.
DirectoryChainPin PinFolderChain(std::wstring_view folder, ChainSecurity security);

}  // namespace vexo
