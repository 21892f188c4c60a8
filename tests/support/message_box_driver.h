// Finding, reading and answering the product's message boxes from the test process.
//
// A product message box is a top-level dialog (class "#32770") whose caption is the product
// title. Its text is the static control 0xFFFF and its buttons are the dialog's button
// controls; both can be read from another process. Its icon cannot: under Wine the icon handle
// of another process is of no use to the observer. BoxHook therefore installs
// vexo_box_hook.dll as a global hook; inside the process that shows the box the DLL records the
// icon kind and a ready mark on the dialog window (see box_hook_protocol.h), which ReadBox reads.
// The hook must be installed before the program under test is started.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/support_handles.h"

namespace vexo::test {

// The caption of every message box the product shows.
inline constexpr wchar_t kProductBoxCaption[] = L"벡소링크 원격지원";

enum class BoxIcon {
  kNone,         // the hook saw the box set up and no icon was set
  kError,        // MB_ICONERROR 0x10
  kQuestion,     // MB_ICONQUESTION 0x20
  kWarning,      // MB_ICONWARNING 0x30
  kInformation,  // MB_ICONINFORMATION 0x40
  kOther,        // an icon that is not a standard one
  kUnobserved,   // the hook did not see the box: its icon is unknown
};

const char* BoxIconName(BoxIcon icon);

struct BoxButton {
  int id = 0;  // IDOK, IDCANCEL, IDYES, IDNO, ...
  std::wstring text;
};

struct ObservedBox {
  HWND window = nullptr;
  std::uint32_t process_id = 0;
  BoxIcon icon = BoxIcon::kUnobserved;
  std::wstring text;
  std::vector<BoxButton> buttons;  // in control order

  bool HasButton(int id) const;
  std::vector<int> ButtonIds() const;
};

// Installs vexo_box_hook.dll (taken from the folder of the running program) as a global
// WH_CALLWNDPROCRET hook for the whole session, and removes it again on destruction.
class BoxHook {
 public:
  BoxHook();
  BoxHook(const BoxHook&) = delete;
  BoxHook& operator=(const BoxHook&) = delete;

 private:
  UniqueModule module_;
  UniqueWindowsHook hook_;
};

// Visible top-level dialogs with the product caption in the session, in z-order.
std::vector<HWND> FindProductBoxes();

// True once the hook has marked the dialog as set up.
bool IsBoxReady(HWND window);

// Reads a box. Returns nothing when the window is gone.
std::optional<ObservedBox> ReadBox(HWND window);

// Presses the button with `id` (BM_CLICK, posted, so the test never blocks on the box's
// thread). Fails when the box has no such button.
void PressBoxButton(const ObservedBox& box, int id);

// The button to press on a box nobody expected, so the program can go on and end: Cancel, then
// No, then OK, else the first button; nothing for a box without buttons.
std::optional<int> ChooseEscapeButton(const ObservedBox& box);

// Answers a box nobody expected: presses ChooseEscapeButton, or closes a box without buttons.
void DismissBox(const ObservedBox& box);

// Button names for scripts and vexo-testctl ("ok", "cancel", "yes", "no", "abort", "retry",
// "ignore", "tryagain", "continue") and back.
std::optional<int> ButtonIdFromName(std::wstring_view name);
std::wstring ButtonName(int id);

}  // namespace vexo::test
