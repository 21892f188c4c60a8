#include "launcher/session_lock_name.h"

#include "common/failure.h"

namespace vexo {

std::wstring SessionLockName(std::uint32_t session_id, SessionLockKind kind) {
  std::wstring name = kind == SessionLockKind::kKeeper ? kKeeperLockPrefix : kLauncherLockPrefix;
  name += DecimalText(session_id);
  return name;
}

}  // namespace vexo
