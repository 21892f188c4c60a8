// Whether this process has the rights of an elevated administrator.
#pragma once

namespace vexo {

// True only when this process's token is elevated, the calling thread's effective token is a
// member of BUILTIN\Administrators and the token's integrity level is high (0x3000) or above.
// Every problem on the way gives false.
bool IsElevatedAdministrator() noexcept;

}  // namespace vexo
