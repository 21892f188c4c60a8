// Starting the launcher tests' child program, with this process's token or its limited
// (linked) token.
#pragma once

#include <string>

#include "common/handles.h"

namespace vexo::test {

// Full path of launcher_test_child.exe, which is built beside the test programs.
std::wstring ChildProgramPath();

// Starts the child with `arguments` (the text after the program name). Fails the calling
// test and returns an empty holder when the start fails.
UniqueHandle StartChild(const std::wstring& arguments);

// Starts the child with the limited token linked to this process's elevated token, as an
// unelevated member of Administrators would run it.
UniqueHandle StartChildWithLimitedToken(const std::wstring& arguments);

}  // namespace vexo::test
