// How each verified file operation opens its object. No row shares delete access, and every
// row opens the object itself rather than what a reparse point leads to.
#pragma once

#include <windows.h>

#include <string>

#include "common/handles.h"

namespace vexo {

struct OpenParameters {
  DWORD desired_access;
  DWORD share_mode;
  DWORD flags_and_attributes;
};

// Folders: protected-folder checks and folder chain pins.
inline constexpr OpenParameters kOpenProtectedFolder{
    READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT};
inline constexpr OpenParameters kDeleteProtectedFolder{
    DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT};

// Payload files. Deployment creates new, exclusively; pins allow readers only.
inline constexpr OpenParameters kDeployPayloadFile{
    GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL, 0,
    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT};
inline constexpr OpenParameters kPinFileForReading{
    GENERIC_READ | READ_CONTROL, FILE_SHARE_READ,
    FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT};
inline constexpr OpenParameters kDeletePayloadFile{GENERIC_READ | DELETE | READ_CONTROL,
                                                   FILE_SHARE_READ, FILE_FLAG_OPEN_REPARSE_POINT};

// Opens an existing object with one row of the table. Returns no handle with the Windows
// error left in GetLastError().
inline UniqueHandle OpenExisting(const std::wstring& path, const OpenParameters& parameters) {
  return UniqueHandle(::CreateFileW(path.c_str(), parameters.desired_access, parameters.share_mode,
                                    nullptr, OPEN_EXISTING, parameters.flags_and_attributes,
                                    nullptr));
}

}  // namespace vexo
