// The process's entry point, ahead of the C and C++ runtime's own start.
//
// The runtime's start runs constructors before wWinMain, and the stack protector's guard
// set-up among them asks CryptoAPI for random bytes: advapi32 then loads rsaenh.dll from the
// system folder, and the loader looks for that library's own imports (bcrypt.dll among them)
// in the program's folder first, unless the process has restricted the search. So the search
// is restricted here, before any code of the runtime or the launcher runs, and then the
// runtime's own entry starts the process as usual. docs/dll-search.md has the whole picture.
#include <windows.h>

#include "common/error_codes.h"
#include "common/system_library.h"

// The runtime's entry for a Unicode GUI program (MinGW-w64 crt2u.o); it ends the process.
extern "C" int WinMainCRTStartup();

// Named as the image's entry by the link (vexo_add_launcher). Runs before the stack guard is
// set up, so it carries no stack check of its own.
extern "C" __attribute__((no_stack_protector)) int VexoProcessEntry() {
  if (!vexo::RestrictLibrarySearchToSystemFolder()) {
    ::ExitProcess(vexo::error::kAccessDenied);
  }
  return WinMainCRTStartup();
}
