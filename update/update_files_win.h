// Staging and the file and process operations shared by the startup check and the worker.
// Every failure raises "update_validation_failed".
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/handles.h"

namespace vexo {

// The staging folder's DACL: protected, full access for LocalSystem, Administrators and the
// current user, inherited by files and subfolders. The user's SID and ")" follow.
inline constexpr wchar_t kStagingFolderSddlPrefix[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;";
// The largest program file that is hashed (64 MiB).
inline constexpr std::uint64_t kMaxHashedFileBytes = 67108864;

// Open handles on a folder and each of its ancestors up to the volume root, none sharing
// delete: nobody can rename, move or delete them while the pin lives.
using FolderRootPin = std::vector<UniqueHandle>;

// 16 bytes of the system-preferred generator as 32 lower-case hex digits.
std::wstring RandomHex32();

// The SID of the user of `process`'s token, in SDDL form.
std::wstring CurrentUserSidString(HANDLE process);

// Whether the token of this process is elevated. The update refuses to run elevated.
bool IsCurrentProcessElevated();

std::string BytesAsText(std::span<const std::uint8_t> bytes);

// Creates `path` new with the staging DACL; an existing folder is a failure.
void CreateStagingFolder(const std::wstring& path);

// `path` must be absolute with a drive letter ("\\" paths are refused); each folder must be a
// folder and not a reparse point.
FolderRootPin PinFolderToRoot(std::wstring_view path);

// A plain file (no folder, no reparse point) opened for reading, sharing read only.
UniqueHandle OpenFileForReading(const std::wstring& path);

// The whole content of an open file with one hard link and at most `limit` bytes, read with one
// ReadFile.
std::vector<std::uint8_t> ReadOpenFile(HANDLE file, std::uint64_t limit);

// The whole content of a plain file (no folder, no reparse point, one hard link) of at most
// `limit` bytes, read with one ReadFile.
std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path, std::uint64_t limit);

// Creates `path` new (an existing file is a failure) and writes `bytes`, not yet flushed. A
// write that fails (a full disk) removes the file again.
UniqueHandle WriteNewFileUnflushed(const std::wstring& path, std::span<const std::uint8_t> bytes);

// Creates `path` new (an existing file is a failure), writes `bytes` and flushes them.
void WriteNewFile(const std::wstring& path, std::span<const std::uint8_t> bytes);
void WriteNewFile(const std::wstring& path, std::string_view text);

// The security descriptor of an open file (opened with read access), holding its DACL only.
UniqueLocalMemory ReadFileDacl(HANDLE file);

// Gives the file at `path` exactly the DACL of `descriptor` (from ReadFileDacl), inherited
// entries and protection included: what the file system keeps of a file renamed in place.
void GiveFileDacl(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor);

// Lower-case hex SHA-256 of a file of at most 64 MiB (read with ReadWholeFile).
std::string FileSha256Hex(const std::wstring& path);
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

// The creation time of `process` as one FILETIME value.
std::uint64_t ProcessCreationTime(HANDLE process);

// The full path of the running executable.
std::wstring CurrentModulePath();

}  // namespace vexo
