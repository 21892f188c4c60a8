// The only operations through which the launcher creates, holds, checks or removes anything
// in its protected folders. Each works on a handle it opened itself and trusts a path only
// after proving on that handle that it is the expected kind of object at the expected place
// and, where stated, that its owner and DACL pass the strict folder rule. All throw Failure.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "common/handles.h"
#include "payload/catalogue.h"

namespace vexo {

// How long, and how often, a payload file held open by another process is retried.
inline constexpr ULONGLONG kDeleteRetryLimitMs = 5000;
inline constexpr DWORD kDeleteRetryIntervalMs = 100;

// The handle's final path, normalized, with a drive letter and without the "\\?\" prefix.
std::wstring GetFinalPath(HANDLE handle);

// Refuses (Failure 5) a reparse point, the wrong kind of object, a file with more than one
// hard link, or a final path that differs (ignoring case) from `expected_path`.
void CheckHandleIdentity(HANDLE handle, std::wstring_view expected_path, bool folder_expected);

// Creates the folder with `descriptor` when one is given (an existing folder is accepted
// only when `must_be_new` is off), opens it, and checks identity and the strict rule. The
// caller keeps the handle for as long as it relies on the folder.
UniqueHandle OpenProtectedFolder(std::wstring_view path,
                                 PSECURITY_DESCRIPTOR descriptor,
                                 bool must_be_new);

// Writes one verified payload resource as a new file in `run_folder`, proves it on disk and
// returns it pinned for reading. A file that fails before its write handle is closed is
// removed; an existing file is never overwritten.
UniqueHandle DeployPayloadFile(std::wstring_view run_folder,
                               const PayloadEntry& entry,
                               PSECURITY_DESCRIPTOR descriptor);

// Opens an existing file for reading only (others may read, nobody may write, rename or
// delete it) and checks its identity; `strict` adds the strict folder rule.
UniqueHandle PinFileForReading(std::wstring_view path, bool strict);

// Deletes one payload file of `run_folder`, only when it is still the launcher's own file
// with the catalogue digest. Sharing and lock violations are retried for a while.
void DeletePayloadFile(std::wstring_view run_folder, const PayloadEntry& entry);

// Deletes an empty protected folder after the identity and strict checks.
void DeleteProtectedFolder(std::wstring_view path);

// True when the path names an existing object, false when it or its parent is missing.
bool PathExists(std::wstring_view path);

}  // namespace vexo
