// Starting the launcher tests' child program (launcher_test_child.exe, built beside the test
// programs) through the test bench, with the full or the limited (linked) token.
#pragma once

#include <string>
#include <vector>

#include "tests/support/program_start.h"

namespace vexo::test {

inline std::wstring ChildProgramPath() {
  return CurrentProgramFolder() + L"\\launcher_test_child.exe";
}

inline RunningProgram StartChild(std::vector<std::wstring> arguments,
                                 TokenKind token = TokenKind::kFull) {
  return StartProgram(ProgramCommand(ChildProgramPath(), std::move(arguments), token));
}

}  // namespace vexo::test
