// Telling whether a Host of a run is still running, and under which account. Nothing is ever
// terminated or signalled here: a Host a customer may be connected through is left alone.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace vexo {

// Whether `image_path` is the run folder's Vexo-Host.exe (the path joined as text, compared
// ignoring case).
bool IsRunFolderHost(std::wstring_view image_path, const std::wstring& run_folder);

// Returns when no Vexo-Host.exe of `run_folder` runs under an account other than LocalSystem
// (a LocalSystem one is the run's broker service). A Host that runs for a user, or one whose
// state or path cannot be established, is Failure 170; a process list that cannot be read is a
// Failure with the Windows error.
void EnsureHostStopped(const std::wstring& run_folder);

// The full Win32 path of the process's image, or empty when it cannot be read. The handle
// needs PROCESS_QUERY_LIMITED_INFORMATION.
std::wstring GetProcessImagePath(HANDLE process);

// Whether the user of the process's primary token is LocalSystem. Throws Failure when the
// token cannot be read.
bool IsLocalSystemProcess(HANDLE process);

}  // namespace vexo
