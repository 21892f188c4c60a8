// A Windows program that does nothing. The bench subtracts its start, under the same warm
// wineserver, from the launcher's, so a figure is the launcher's own work. Like the launcher it
// is a GUI program with the static runtime, so both start the same way.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return 0;
}
