#include "cleanup/cleanup_command.h"

#include <windows.h>

#include "cleanup/cleanup_run.h"
#include "cleanup/messages.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/product.h"
#include "run/run_id.h"
#include "run/run_placement.h"
#include "system/administrator.h"

namespace vexo {

std::uint32_t RunCleanupCommand(const std::wstring& run_id) {
  if (!IsElevatedAdministrator() || !IsRunId(run_id)) {
    ThrowFailure(message::kCleanupNeedsRunIdAndApproval, error::kAccessDenied);
  }
  CleanupRun(RunFolderPath(run_id), run_id);
  ::MessageBoxW(nullptr, message::kCleanupDone, product::kProductTitle, MB_OK | MB_ICONINFORMATION);
  return 0;
}

}  // namespace vexo
