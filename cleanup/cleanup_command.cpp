#include "cleanup/cleanup_command.h"

#include "cleanup/messages.h"
#include "common/error_codes.h"
#include "common/failure.h"

namespace vexo {

// The cleanup sequence is not part of this build yet: say so plainly instead of reporting
// a cleanup that did not happen.
std::uint32_t RunCleanupCommand(const std::wstring& /*run_id*/) {
  ThrowFailure(message::kCleanupNotInThisBuild, error::kCallNotImplemented);
}

}  // namespace vexo
