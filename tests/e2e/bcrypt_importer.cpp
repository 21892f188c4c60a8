// Imports bcrypt.dll statically, as the launcher once did: the loader looks for it while the
// process starts, before any code of the program can restrict where libraries come from.
#include <windows.h>

#include <bcrypt.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  UCHAR byte = 0;
  return BCryptGenRandom(nullptr, &byte, 1, BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0 ? 0 : 1;
}
