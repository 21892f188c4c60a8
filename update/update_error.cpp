#include "update/update_error.h"

#include <cstring>
#include <stdexcept>

namespace vexo {

void ThrowUpdateValidationFailed() {
  throw std::runtime_error(kUpdateValidationFailed);
}

bool IsUpdateValidationFailure(const std::exception& error) noexcept {
  return dynamic_cast<const std::runtime_error*>(&error) != nullptr &&
         std::strcmp(error.what(), kUpdateValidationFailed) == 0;
}

}  // namespace vexo
