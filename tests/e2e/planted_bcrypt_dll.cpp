// A bcrypt.dll that another program dropped beside the launcher: once loaded, it leaves the
// marker file VEXO_PLANTED_MARKER and fails its load. It exports nothing; Wine still runs it
// for an importer that asks for CNG functions (it points the missing ones at a stub). Built
// without the stack protector, whose set-up would itself ask CryptoAPI, and so bcrypt.dll, for
// random bytes while the loader is busy with this very DLL.
#include <windows.h>

#include "common/handles.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    const vexo::UniqueHandle marker(
        ::CreateFileW(VEXO_PLANTED_MARKER, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  return reason != DLL_PROCESS_ATTACH;
}
