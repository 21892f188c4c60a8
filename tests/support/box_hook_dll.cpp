// vexo_box_hook.dll: loaded by the system into every process of the session once the test
// driver installs it as a global WH_CALLWNDPROCRET hook. Inside the observed process it sees
// the messages a message box sends to itself while it sets up, and records on the dialog window
// what the driver cannot read from outside: which standard icon the box shows.
//
// The hook must load into a launcher that restricts library loading to the system folder, so it
// is loaded by full path and imports nothing but system libraries (static runtime).
#include <windows.h>

#include <array>
#include <cwchar>
#include <utility>

#include "tests/support/box_hook_protocol.h"

namespace {

using vexo::test::BoxIconCode;

bool IsDialogWindow(HWND window) {
  std::array<wchar_t, 16> class_name{};
  const int length =
      ::GetClassNameW(window, class_name.data(), static_cast<int>(class_name.size()));
  return length > 0 && std::wcscmp(class_name.data(), vexo::test::kDialogClass) == 0;
}

// Standard icons are shared resources: LoadIconW hands the same handle to every caller in one
// process, and MessageBoxW uses exactly these handles.
BoxIconCode ClassifyIcon(HICON icon) {
  static const std::array<std::pair<LPCWSTR, BoxIconCode>, 4> kStandardIcons{{
      {IDI_ERROR, BoxIconCode::kError},
      {IDI_INFORMATION, BoxIconCode::kInformation},
      {IDI_WARNING, BoxIconCode::kWarning},
      {IDI_QUESTION, BoxIconCode::kQuestion},
  }};
  for (const auto& [id, code] : kStandardIcons) {
    if (icon == ::LoadIconW(nullptr, id)) {
      return code;
    }
  }
  return BoxIconCode::kOther;
}

void RecordMessage(const CWPRETSTRUCT& message) {
  if (message.message == STM_SETICON && message.wParam != 0) {
    const HWND dialog = ::GetParent(message.hwnd);
    if (dialog != nullptr && IsDialogWindow(dialog)) {
      const HICON icon = reinterpret_cast<HICON>(message.wParam);
      ::SetPropW(dialog, vexo::test::kBoxIconProperty,
                 reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(ClassifyIcon(icon))));
    }
  } else if (message.message == WM_INITDIALOG && IsDialogWindow(message.hwnd)) {
    ::SetPropW(message.hwnd, vexo::test::kBoxReadyProperty,
               reinterpret_cast<HANDLE>(vexo::test::kBoxReadyMark));
  }
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    VexoBoxHookProc(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION && lparam != 0) {
    RecordMessage(*reinterpret_cast<const CWPRETSTRUCT*>(lparam));
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
