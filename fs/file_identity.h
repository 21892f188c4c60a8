// What a handle or a path really is: the final path Windows reports, proof that an open handle
// is the expected kind of object at the expected place, and whether a path exists.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace vexo {

enum class ObjectKind { kFile, kFolder };

// The handle's final path, normalized, with a drive letter and without the "\\?\" prefix.
std::wstring GetFinalPath(HANDLE handle);

// Refuses (Failure 5) a reparse point, the wrong kind of object, a file with more than one hard
// link, or a final path that differs (ignoring case) from `expected_path`.
void CheckHandleIdentity(HANDLE handle, std::wstring_view expected_path, ObjectKind expected);

// What a file is, whatever path leads to it: the volume's serial number and the file's id on it.
// Two paths name the same file exactly when their identities are equal, however each is written
// (letter case, 8.3 short names, another drive letter or a device path).
struct FileIdentity {
  ULONGLONG volume_serial = 0;
  FILE_ID_128 file_id{};
};
bool operator==(const FileIdentity& a, const FileIdentity& b) noexcept;

// The identity of the file at `path` (a Win32 path, or a device path behind "\\?\GLOBALROOT"),
// read on a handle that asks for its attributes only; nothing when it cannot be opened or read.
std::optional<FileIdentity> IdentityOfFile(const std::wstring& path);

// True when the path names an existing object, false when it or its parent is missing; any
// other answer of Windows is a Failure.
bool PathExists(std::wstring_view path);

}  // namespace vexo
