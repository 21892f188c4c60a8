// Where the running launcher's own file lies.
#pragma once

#include <string>

namespace vexo {

// The lexically normal full path of the running program's file. Throws Failure with the
// Windows error when the name cannot be read or does not fit in 32,767 characters.
std::wstring GetLauncherPath();

}  // namespace vexo
