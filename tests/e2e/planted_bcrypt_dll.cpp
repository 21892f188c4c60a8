// A bcrypt.dll that another program dropped beside the launcher: once loaded, it leaves the
// marker file VEXO_PLANTED_MARKER; the one function it exports, the one the static importer asks
// for, fails. Windows refuses to load a DLL that lacks an import of its importer, and stops a
// process whose DLL fails its load with a system error box; Wine does neither. Built without the
// stack protector, whose set-up would itself ask CryptoAPI, and so bcrypt.dll, for random bytes
// while the loader is busy with this very DLL.
#include <windows.h>

#include "common/handles.h"

extern "C" __declspec(dllexport) LONG WINAPI BCryptGenRandom(void*, UCHAR*, ULONG, ULONG) {
  return static_cast<LONG>(0xC00000BB);  // not supported
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    const vexo::UniqueHandle marker(
        ::CreateFileW(VEXO_PLANTED_MARKER, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  return TRUE;
}
