#include "deploy/deployment.h"

#include "common/error_codes.h"
#include "common/failure.h"
#include "deploy/messages.h"

namespace vexo {

// The deployment sequence is not part of this build yet: say so plainly instead of
// pretending that a Host ran.
std::uint32_t RunDeployment() {
  ThrowFailure(message::kDeploymentNotInThisBuild, error::kCallNotImplemented);
}

}  // namespace vexo
