// Process entry of the launcher.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
