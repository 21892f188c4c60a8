// Kept for existing includes: the one scratch folder of the bench, also as vexo::ScratchFolder.
#pragma once

#include "tests/support/wine_driver.h"

namespace vexo {
using test::ScratchFolder;
}  // namespace vexo
