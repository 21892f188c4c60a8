#include "tests/support/message_box_driver.h"

#include <array>
#include <cwchar>
#include <utility>

#include "tests/support/box_hook_protocol.h"
#include "tests/support/program_start.h"
#include "tests/support/support_error.h"

namespace vexo::test {
namespace {

// Message box texts are short; this bounds what we read from a hostile window.
constexpr int kMaxWindowText = 8192;
constexpr int kBoxTextControlId = 0xFFFF;

constexpr std::array<std::pair<int, const wchar_t*>, 9> kButtonNames{{
    {IDOK, L"ok"},
    {IDCANCEL, L"cancel"},
    {IDABORT, L"abort"},
    {IDRETRY, L"retry"},
    {IDIGNORE, L"ignore"},
    {IDYES, L"yes"},
    {IDNO, L"no"},
    {IDTRYAGAIN, L"tryagain"},
    {IDCONTINUE, L"continue"},
}};

std::wstring ReadWindowText(HWND window) {
  std::wstring text(kMaxWindowText, L'\0');
  const int length = ::GetWindowTextW(window, text.data(), kMaxWindowText);
  text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return text;
}

std::wstring ReadClassName(HWND window) {
  std::array<wchar_t, 64> name{};
  const int length = ::GetClassNameW(window, name.data(), static_cast<int>(name.size()));
  return std::wstring(name.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
}

bool HasVisibleStyle(HWND window) {
  return (::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

BOOL CALLBACK CollectProductBox(HWND window, LPARAM context) {
  auto& boxes = *reinterpret_cast<std::vector<HWND>*>(context);
  if (HasVisibleStyle(window) && ReadClassName(window) == kDialogClass &&
      ReadWindowText(window) == kProductBoxCaption) {
    boxes.push_back(window);
  }
  return TRUE;
}

BOOL CALLBACK CollectButton(HWND control, LPARAM context) {
  auto& buttons = *reinterpret_cast<std::vector<BoxButton>*>(context);
  // Wine builds a message box from a template with every button and destroys the unused ones;
  // Windows hides none either. Only visible buttons count, in case a system keeps hidden ones.
  if (ReadClassName(control) == L"Button" && HasVisibleStyle(control)) {
    buttons.push_back({::GetDlgCtrlID(control), ReadWindowText(control)});
  }
  return TRUE;
}

BoxIcon IconFromHookCode(std::uintptr_t code) {
  switch (static_cast<BoxIconCode>(code)) {
    case BoxIconCode::kError:
      return BoxIcon::kError;
    case BoxIconCode::kInformation:
      return BoxIcon::kInformation;
    case BoxIconCode::kWarning:
      return BoxIcon::kWarning;
    case BoxIconCode::kQuestion:
      return BoxIcon::kQuestion;
    case BoxIconCode::kOther:
      return BoxIcon::kOther;
  }
  return BoxIcon::kOther;
}

BoxIcon ReadBoxIcon(HWND window) {
  if (!IsBoxReady(window)) {
    return BoxIcon::kUnobserved;
  }
  const auto code = reinterpret_cast<std::uintptr_t>(::GetPropW(window, kBoxIconProperty));
  return code == 0 ? BoxIcon::kNone : IconFromHookCode(code);
}

}  // namespace

const char* BoxIconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kNone:
      return "none";
    case BoxIcon::kError:
      return "error";
    case BoxIcon::kQuestion:
      return "question";
    case BoxIcon::kWarning:
      return "warning";
    case BoxIcon::kInformation:
      return "information";
    case BoxIcon::kOther:
      return "other";
    case BoxIcon::kUnobserved:
      return "unobserved";
  }
  return "?";
}

bool ObservedBox::HasButton(int id) const {
  for (const auto& button : buttons) {
    if (button.id == id) {
      return true;
    }
  }
  return false;
}

std::vector<int> ObservedBox::ButtonIds() const {
  std::vector<int> ids;
  for (const auto& button : buttons) {
    ids.push_back(button.id);
  }
  return ids;
}

BoxHook::BoxHook() {
  const std::wstring path = CurrentProgramFolder() + L"\\" + kBoxHookDllName;
  module_.reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!module_) {
    ThrowSupportError("cannot load the box hook " + ToUtf8(path), ::GetLastError());
  }
  const auto procedure = reinterpret_cast<HOOKPROC>(
      reinterpret_cast<void*>(::GetProcAddress(module_.get(), kBoxHookProcName)));
  if (procedure == nullptr) {
    ThrowSupportError("the box hook DLL has no hook procedure", ::GetLastError());
  }
  // Thread 0 with the DLL's module: the system loads the DLL (by the full path it has here)
  // into every process of the desktop that receives messages, and calls the hook in there.
  hook_.reset(::SetWindowsHookExW(WH_CALLWNDPROCRET, procedure, module_.get(), 0));
  if (!hook_) {
    ThrowSupportError("cannot install the global box hook", ::GetLastError());
  }
}

std::vector<HWND> FindProductBoxes() {
  std::vector<HWND> boxes;
  ::EnumWindows(CollectProductBox, reinterpret_cast<LPARAM>(&boxes));
  return boxes;
}

bool IsBoxReady(HWND window) {
  return reinterpret_cast<std::uintptr_t>(::GetPropW(window, kBoxReadyProperty)) == kBoxReadyMark;
}

std::optional<ObservedBox> ReadBox(HWND window) {
  if (!::IsWindow(window)) {
    return std::nullopt;
  }
  ObservedBox box;
  box.window = window;
  DWORD process_id = 0;
  ::GetWindowThreadProcessId(window, &process_id);
  box.process_id = process_id;
  box.icon = ReadBoxIcon(window);
  const HWND text_control = ::GetDlgItem(window, kBoxTextControlId);
  if (text_control != nullptr) {
    box.text = ReadWindowText(text_control);
  }
  ::EnumChildWindows(window, CollectButton, reinterpret_cast<LPARAM>(&box.buttons));
  if (!::IsWindow(window)) {
    return std::nullopt;
  }
  return box;
}

void PressBoxButton(const ObservedBox& box, int id) {
  if (!box.HasButton(id)) {
    ThrowSupportError("the box has no button " + ToUtf8(ButtonName(id)), 0);
  }
  // The same notification the button itself sends to its dialog when clicked. Posted, so the
  // dialog's own thread handles it and the test never waits on a stuck program.
  const HWND button = ::GetDlgItem(box.window, id);
  if (!::PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                      reinterpret_cast<LPARAM>(button))) {
    ThrowSupportError("cannot press a box button", ::GetLastError());
  }
}

std::optional<int> ChooseEscapeButton(const ObservedBox& box) {
  for (const int id : {IDCANCEL, IDNO, IDOK}) {
    if (box.HasButton(id)) {
      return id;
    }
  }
  if (box.buttons.empty()) {
    return std::nullopt;
  }
  return box.buttons.front().id;
}

void DismissBox(const ObservedBox& box) {
  if (const auto id = ChooseEscapeButton(box)) {
    PressBoxButton(box, *id);
  } else {
    ::PostMessageW(box.window, WM_CLOSE, 0, 0);
  }
}

std::optional<int> ButtonIdFromName(std::wstring_view name) {
  for (const auto& [id, button_name] : kButtonNames) {
    if (name == button_name) {
      return id;
    }
  }
  return std::nullopt;
}

std::wstring ButtonName(int id) {
  for (const auto& [button_id, name] : kButtonNames) {
    if (button_id == id) {
      return name;
    }
  }
  return L"button " + std::to_wstring(id);
}

}  // namespace vexo::test
