// The environment the Host runs with. The Host runs elevated, but the launcher's own environment
// is the customer's to set (HKCU\Environment, or whatever program started the launcher): a PATH
// through a folder the customer can write would hand the elevated Host that folder's libraries.
// So both Host runs get a block the launcher builds from the system's own answers, and nothing of
// its own environment. docs/host-contract.md lists the variables.
#pragma once

#include <string>

namespace vexo {

// The Host's environment block (UTF-16, "NAME=value" entries sorted by name ignoring case, each
// ending in a null character, and one more null at the end): the Windows, system and program
// folders, PATH of the system folders only, the processor, and the user-profile folders of the
// account the launcher runs as. A variable the system cannot answer is left out.
std::wstring HostEnvironmentBlock();

}  // namespace vexo
