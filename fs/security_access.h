// The only places where the launcher touches security descriptors of files and folders:
// one read of an object's security, one creation per kind of object with a descriptor, and
// removal through the delete disposition.
//
// The test flavour VEXO_EMULATED_FILE_SECURITY replaces exactly these functions (see
// docs/emulated-file-security.md); every check above them is the same code in both builds.
#pragma once

#include <windows.h>

#include <string>

#include "common/handles.h"

namespace vexo {

// Reads the owner and DACL of `object` as a file object. Returns ERROR_SUCCESS and the
// descriptor (LocalAlloc'd) or the Windows error.
DWORD ReadObjectSecurity(HANDLE object, UniqueLocalMemory& descriptor);

// Creates a folder with `descriptor` (or default security when null). Returns false with
// the Windows error left in GetLastError().
bool CreateFolderWithDescriptor(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor);

// Creates a new file (CREATE_NEW) with `descriptor` (or default security when null).
// Returns no handle with the Windows error left in GetLastError().
UniqueHandle CreateFileWithDescriptor(const std::wstring& path,
                                      DWORD desired_access,
                                      DWORD share_mode,
                                      DWORD flags_and_attributes,
                                      PSECURITY_DESCRIPTOR descriptor);

// Marks the object for deletion when `object` (opened with delete access) is closed. With POSIX
// semantics where the system offers them, so the name goes when this handle closes even while
// another program (a scanner, an indexer) still holds the object open with delete sharing; the
// legacy disposition elsewhere, which leaves the name until the last handle closes. Returns false
// with the Windows error left in GetLastError().
bool SetDeleteDisposition(HANDLE object);

}  // namespace vexo
