// The stand-in Host: one top-level window of the Host window class that lives until the
// user (or a test) closes it, then the process ends with exit code 0.
#include <windows.h>

#include "common/product.h"

namespace {

using vexo::product::kHostWindowClass;
constexpr wchar_t kHostWindowTitle[] = L"Vexo Host";
constexpr int kHostWindowWidth = 480;
constexpr int kHostWindowHeight = 320;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool RegisterHostWindowClass(HINSTANCE instance) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = HostWindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  window_class.lpszClassName = kHostWindowClass;
  return RegisterClassExW(&window_class) != 0;
}

// Pumps messages until WM_QUIT; its wParam is the exit code.
int RunMessageLoop() {
  MSG message{};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      return static_cast<int>(message.wParam);
    }
    if (got == -1) {
      return static_cast<int>(GetLastError());
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  if (!RegisterHostWindowClass(instance)) {
    return static_cast<int>(GetLastError());
  }
  HWND window = CreateWindowExW(0, kHostWindowClass, kHostWindowTitle, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, kHostWindowWidth, kHostWindowHeight,
                                nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    return static_cast<int>(GetLastError());
  }
  ShowWindow(window, show_command);
  UpdateWindow(window);
  return RunMessageLoop();
}
