// The stand-in Host: a small program that does everything the launcher relies on from a Host
// (docs/host-contract.md), so the launcher, its tests and the demo meet the real service
// control manager and real processes.
//
//   (no arguments)   the Host window (class vexoNativeHost, titled with its run); exit code 0
//                    once it is closed (the exit code of a WM_QUIT it gets, if one comes first)
//   --uac-install    registers the run's broker service for LocalSystem; exit code 0 once it is
//                    registered, the Windows error otherwise
//   --uac-service    runs as that service through the service control dispatcher
//
// The run id is the name of the Host's own folder. Nothing is ever written under that folder.
// As the contract asks, the library search is restricted to the system folder at the image's
// entry (launcher/process_entry.cpp) and no configuration comes from environment variables.
// Tests of a test flavour choose deviations through the knobs of host_knobs.h, never through the
// command line, which the launcher fixes; without knobs the stand-in is a well-mannered Host.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "common/handles.h"
#include "common/path.h"
#include "common/product.h"
#include "demo-host/host_knobs.h"
#include "demo-host/host_service.h"
#include "run/run_id.h"

namespace {

using vexo::product::kHostWindowClass;
constexpr wchar_t kHostWindowTitlePrefix[] = L"Vexo Host ";
constexpr int kHostWindowWidth = 480;
constexpr int kHostWindowHeight = 320;

// What the stand-in ends with when its command line is not one the contract knows, and when
// --uac-install runs from a folder whose name is not a run id (nothing is registered then).
constexpr DWORD kUnknownCommandLine = ERROR_INVALID_PARAMETER;
constexpr DWORD kNotARunFolder = ERROR_INVALID_NAME;

// The timer of the close-after knob: the customer closes the window.
constexpr UINT_PTR kCloseTimer = 1;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER && wparam == kCloseTimer) {
    DestroyWindow(window);
    return 0;
  }
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
DWORD RunMessageLoop() {
  MSG message{};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      return static_cast<DWORD>(message.wParam);
    }
    if (got == -1) {
      return GetLastError();
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

DWORD RunHostWindow(HINSTANCE instance, const std::wstring& run_folder, int show_command) {
  if (!RegisterHostWindowClass(instance)) {
    return GetLastError();
  }
  const std::wstring title = kHostWindowTitlePrefix + vexo::FileName(run_folder);
  HWND window = CreateWindowExW(0, kHostWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, kHostWindowWidth, kHostWindowHeight,
                                nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    return GetLastError();
  }
  ShowWindow(window, show_command);
  UpdateWindow(window);
  if (const auto close_after = vexo::demo_host::Knob(vexo::demo_host::kCloseAfterKnob)) {
    SetTimer(window, kCloseTimer, vexo::demo_host::KnobNumber(*close_after), nullptr);
  }
  return RunMessageLoop();
}

std::wstring OwnImagePath() {
  std::wstring path(vexo::kLongPathCapacity, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length < path.size() ? length : 0);
  return path;
}

DWORD RunMode(HINSTANCE instance, const std::wstring& mode, int show_command) {
  const std::wstring own_path = OwnImagePath();
  const std::wstring run_folder = vexo::ParentPath(own_path);
#if defined(VEXO_HOST_TEST_KNOBS)
  if (mode == vexo::demo_host::kOutlivingChildSwitch) {
    return vexo::demo_host::RunOutlivingChild();
  }
#endif
  // The service takes its knob from its registry key only (host_service.h).
  if (mode == vexo::product::kHostServiceSwitch) {
    return vexo::demo_host::RunBrokerService();
  }
  if (const auto knob_exit_code = vexo::demo_host::ApplyStartKnobs(own_path)) {
    return *knob_exit_code;
  }
  if (mode.empty()) {
    return RunHostWindow(instance, run_folder, show_command);
  }
  if (mode == vexo::product::kHostInstallSwitch) {
    if (!vexo::IsRunId(vexo::FileName(run_folder))) {
      return kNotARunFolder;
    }
    return vexo::demo_host::RegisterBrokerService(run_folder);
  }
  return kUnknownCommandLine;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  int argc = 0;
  const vexo::UniqueArgv argv(CommandLineToArgvW(GetCommandLineW(), &argc));
  DWORD exit_code = kUnknownCommandLine;
  if (argv && argc <= 2) {
    exit_code = RunMode(instance, argc == 2 ? argv.get()[1] : L"", show_command);
  }
  // ExitProcess carries all 32 bits of the code, which a return from wWinMain would not.
  ExitProcess(exit_code);
}
