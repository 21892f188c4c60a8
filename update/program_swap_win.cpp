#include "update/program_swap_win.h"

#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/crash_point.h"
#include "common/handles.h"
#include "update/update_error.h"
#include "update/update_files_win.h"

namespace vexo {
namespace {

constexpr DWORD kRenameFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// The program file as it is: its bytes and its DACL, both read through one handle, which is
// closed again before the rename that replaces the file.
struct ProgramSnapshot {
  std::vector<std::uint8_t> content;
  UniqueLocalMemory dacl;
};

ProgramSnapshot ReadProgram(const std::wstring& target) {
  const UniqueHandle program = OpenFileForReading(target);
  return {ReadOpenFile(program.get(), kMaxHashedFileBytes), ReadFileDacl(program.get())};
}

// After a failed rename: a program file that is gone comes back from the backup when it is
// provably the old program. Never throws; the caller fails anyway.
void RestoreProgramIfMissing(const UpdatePaths& paths, const std::string& old_hash) noexcept {
  try {
    if (::GetFileAttributesW(paths.target.c_str()) == INVALID_FILE_ATTRIBUTES &&
        FileSha256Hex(paths.previous_program) == old_hash) {
      ::MoveFileExW(paths.previous_program.c_str(), paths.target.c_str(), MOVEFILE_WRITE_THROUGH);
    }
  } catch (...) {
  }
}

// Renames `replacement` over the program, after giving it the DACL the program has.
void RenameOverProgram(const std::wstring& replacement,
                       const ProgramSnapshot& program,
                       const UpdatePaths& paths,
                       const std::string& old_hash) {
  GiveFileDacl(replacement, program.dacl.get());
  if (::MoveFileExW(replacement.c_str(), paths.target.c_str(), kRenameFlags) == FALSE) {
    RestoreProgramIfMissing(paths, old_hash);
    ThrowUpdateValidationFailed();
  }
}

// "previous.exe": the program's bytes, flushed to the disk (a copy or a rename alone leaves them
// in the cache, where a power loss takes them), then checked.
void WriteBackup(const UpdatePaths& paths,
                 const ProgramSnapshot& program,
                 const std::string& old_hash) {
  CrashPoint(L"worker-before-backup");
  {
    const UniqueHandle backup = WriteNewFileUnflushed(paths.previous_program, program.content);
    CrashPoint(L"worker-backup-copied");
    RequireUpdate(::FlushFileBuffers(backup.get()) != FALSE);
  }
  CrashPoint(L"worker-backup-flushed");
  RequireUpdate(FileSha256Hex(paths.previous_program) == old_hash);
}

// "failed.exe" when the disk has room for it; a copy that did not fit is removed again.
void KeepFailedProgram(const UpdatePaths& paths, const std::vector<std::uint8_t>& content) {
  try {
    WriteNewFile(paths.failed_program, content);
  } catch (...) {
  }
}

}  // namespace

void SwapInNewProgram(const UpdatePaths& paths, const std::string& old_hash) {
  const ProgramSnapshot program = ReadProgram(paths.target);
  RequireUpdate(Sha256Hex(program.content) == old_hash);
  WriteBackup(paths, program, old_hash);
  RenameOverProgram(paths.new_program, program, paths, old_hash);
  CrashPoint(L"worker-renamed");
}

void PutPreviousProgramBack(const UpdatePaths& paths, const std::string& old_hash) {
  RequireUpdate(FileSha256Hex(paths.previous_program) == old_hash);
  const ProgramSnapshot failed = ReadProgram(paths.target);
  RenameOverProgram(paths.previous_program, failed, paths, old_hash);
  CrashPoint(L"rollback-renamed");
  KeepFailedProgram(paths, failed.content);
  CrashPoint(L"rollback-failed-kept");
}

}  // namespace vexo
