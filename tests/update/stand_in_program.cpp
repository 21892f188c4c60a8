// A stand-in for a newer program that does or does not come up: it waits
// VEXO_TEST_STAND_IN_MS milliseconds, then ends with VEXO_TEST_STAND_IN_EXIT (0 when unset).
#include <windows.h>

#include <cstdlib>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const char* wait_ms = std::getenv("VEXO_TEST_STAND_IN_MS");
  const char* exit_code = std::getenv("VEXO_TEST_STAND_IN_EXIT");
  ::Sleep(wait_ms != nullptr ? static_cast<DWORD>(std::atol(wait_ms)) : 0);
  return exit_code != nullptr ? std::atoi(exit_code) : 0;
}
