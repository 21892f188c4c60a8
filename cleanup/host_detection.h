// Telling whether a Host of a run is still running, and under which account. Nothing is ever
// terminated or signalled here: a Host a customer may be connected through is left alone.
#pragma once

#include <windows.h>

#include <string>

namespace vexo {

// Whether the file at `image_path` is the run folder's Vexo-Host.exe itself: the same file on
// the same volume, however either path is written. False when either cannot be identified.
bool IsRunFolderHost(const std::wstring& image_path, const std::wstring& run_folder);

// Returns when no process whose image is the run folder's Vexo-Host.exe runs under an account
// other than LocalSystem (a LocalSystem one is the run's broker service). Processes named like
// that file (its name or its 8.3 short name) are judged by their image file's identity, read
// through the process or, when it refuses to be opened, through the system's process id
// information; a program of that name from anywhere else is ignored. A Host of the run that
// runs for a user, or a process of that name whose state or image cannot be established, is
// Failure 170; a process list that cannot be read is a Failure with the Windows error.
void EnsureHostStopped(const std::wstring& run_folder);

// The full Win32 path of the process's image, or empty when it cannot be read. The handle
// needs PROCESS_QUERY_LIMITED_INFORMATION.
std::wstring GetProcessImagePath(HANDLE process);

// Whether the user of the process's primary token is LocalSystem. Throws Failure when the
// token cannot be read.
bool IsLocalSystemProcess(HANDLE process);

}  // namespace vexo
