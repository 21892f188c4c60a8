// What the message-box hook DLL leaves on a dialog window for the driver in the test process.
//
// Window properties live in the wineserver (on Windows in win32k), so a value the hook sets
// inside the observed process with SetPropW can be read with GetPropW from any process of the
// session. The hook marks every dialog it has seen finish WM_INITDIALOG, and stores the kind of
// the icon the dialog put into its icon control. A dialog without the ready mark was not seen by
// the hook, so its icon is unknown (never "none").
#pragma once

#include <cstdint>

namespace vexo::test {

// Set to kBoxReadyMark once the dialog's WM_INITDIALOG has returned: text, buttons and icon are
// in place from then on.
inline constexpr wchar_t kBoxReadyProperty[] = L"VexoTestBoxReady";
inline constexpr std::uintptr_t kBoxReadyMark = 1;

// The icon kind (BoxIconCode) of the last STM_SETICON sent to a control of the dialog. Absent
// when the dialog never set an icon.
inline constexpr wchar_t kBoxIconProperty[] = L"VexoTestBoxIcon";

// Codes stored in kBoxIconProperty. 0 cannot be stored (a property of value 0 reads as absent).
enum class BoxIconCode : std::uintptr_t {
  kError = 1,
  kInformation = 2,
  kWarning = 3,
  kQuestion = 4,
  kOther = 5,  // an icon that is none of the system's standard ones
};

// The exported hook procedure of vexo_box_hook.dll (a WH_CALLWNDPROCRET hook).
inline constexpr char kBoxHookProcName[] = "VexoBoxHookProc";
inline constexpr wchar_t kBoxHookDllName[] = L"vexo_box_hook.dll";

// Window class of dialogs, message boxes included.
inline constexpr wchar_t kDialogClass[] = L"#32770";

}  // namespace vexo::test
