// What a handle or a path really is: the final path Windows reports, proof that an open handle
// is the expected kind of object at the expected place, and whether a path exists.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace vexo {

enum class ObjectKind { kFile, kFolder };

// The handle's final path, normalized, with a drive letter and without the "\\?\" prefix.
std::wstring GetFinalPath(HANDLE handle);

// Refuses (Failure 5) a reparse point, the wrong kind of object, a file with more than one hard
// link, or a final path that differs (ignoring case) from `expected_path`.
void CheckHandleIdentity(HANDLE handle, std::wstring_view expected_path, ObjectKind expected);

// True when the path names an existing object, false when it or its parent is missing; any
// other answer of Windows is a Failure.
bool PathExists(std::wstring_view path);

}  // namespace vexo
