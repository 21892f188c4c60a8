#include "launcher/session_lock_name.h"

#include "common/failure.h"

namespace vexo {

std::wstring SessionLockName(std::uint32_t session_id, bool keeper) {
  std::wstring name = keeper ? kKeeperLockPrefix : kLauncherLockPrefix;
  name += DecimalText(session_id);
  return name;
}

}  // namespace vexo
