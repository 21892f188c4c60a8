// The two file swaps of the update worker: the new program in place of the old one, and the old
// one back after a new program that did not come up. Each puts its file over the program by
// one rename on the program's volume, so the program file holds the whole old or the whole new
// program at every moment, even when the worker dies half-way.
//
// A rename keeps the renamed file's own DACL, and the files come from the staging folder, whose
// DACL lets only the user, SYSTEM and Administrators in. So before each rename the file that
// becomes the program gets the DACL of the program file it replaces: a launcher in a folder
// that other users share stays theirs to start after an update and after a rollback.
#pragma once

#include <string>

namespace vexo {

// The files of one update, all named from the worker's own place.
struct UpdatePaths {
  std::wstring worker;
  std::wstring staging_folder;
  std::wstring target;
  std::wstring new_program;
  std::wstring previous_program;
  std::wstring failed_program;
};

// Puts "new.exe" in place of the program, which must hash to `old_hash`: the program's bytes
// are first written to "previous.exe", flushed and checked, so a rollback copy is on the disk
// before anything is replaced. Raises on every failure, leaving the program file whole.
void SwapInNewProgram(const UpdatePaths& paths, const std::string& old_hash);

// Puts "previous.exe", which must hash to `old_hash`, back over whatever program is in place,
// by one rename that needs no free space. What was in place is then kept as "failed.exe" when
// the disk has room for it. Raises when the old program could not be put back.
void PutPreviousProgramBack(const UpdatePaths& paths, const std::string& old_hash);

}  // namespace vexo
