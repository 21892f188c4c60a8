// vexo_box_hook.dll: loaded by the system into every process of the session once the bench
// installs it as a global WH_CALLWNDPROCRET hook. Inside the process that shows a message box
// it records on the dialog window what the bench cannot read from outside: which standard icon
// the box shows, and that the box has finished setting up.
//
// It must load into a launcher that restricts library loading to the system folder, so it is
// loaded by full path and imports nothing but system libraries (static runtime).
#include <array>
#include <cwchar>

#include "tools/wine-bench/wine_driver.h"

namespace {

using vexo::test::BoxIcon;

bool IsDialogWindow(HWND window) {
  std::array<wchar_t, 16> name{};
  return ::GetClassNameW(window, name.data(), static_cast<int>(name.size())) > 0 &&
         std::wcscmp(name.data(), vexo::test::kDialogClass) == 0;
}

// Standard icons are shared: LoadIconW hands every caller in one process the same handle, and
// MessageBoxW uses exactly these.
BoxIcon ClassifyIcon(HICON icon) {
  const std::pair<LPCWSTR, BoxIcon> standard[] = {{IDI_ERROR, BoxIcon::kError},
                                                  {IDI_INFORMATION, BoxIcon::kInformation},
                                                  {IDI_WARNING, BoxIcon::kWarning},
                                                  {IDI_QUESTION, BoxIcon::kQuestion}};
  for (const auto& [id, kind] : standard) {
    if (icon == ::LoadIconW(nullptr, id)) {
      return kind;
    }
  }
  return BoxIcon::kOther;
}

void SetMark(HWND dialog, const wchar_t* property, BoxIcon value) {
  ::SetPropW(dialog, property, reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)));
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    VexoBoxHookProc(int code, WPARAM wparam, LPARAM lparam) {
  const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  if (code == HC_ACTION && message != nullptr) {
    const HWND parent = ::GetParent(message->hwnd);
    if (message->message == STM_SETICON && message->wParam != 0 && parent != nullptr &&
        IsDialogWindow(parent)) {
      SetMark(parent, vexo::test::kBoxIconProperty,
              ClassifyIcon(reinterpret_cast<HICON>(message->wParam)));
    } else if (message->message == WM_INITDIALOG && IsDialogWindow(message->hwnd)) {
      // Any value but 0 marks the box ready; kOther is simply not 0.
      SetMark(message->hwnd, vexo::test::kBoxReadyProperty, BoxIcon::kOther);
    }
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
