// What Wine cannot show of the update's files (docs/wine-gaps.md), so these run on the Windows
// runner only: the worker's two swaps keep the program's DACL (Windows keeps a file's descriptor
// across a rename, Wine keeps none), and the sweep of staging folders goes by creation time
// (Wine reports a folder's last change as its creation time).
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/wine-bench/wine_driver.h"
#include "update/program_swap_win.h"
#include "update/staging_sweep_win.h"
#include "update/update_files_win.h"

namespace vexo {
namespace {

std::wstring DaclText(const std::wstring& path) {
  const UniqueLocalMemory descriptor = ReadFileDacl(OpenFileForReading(path).get());
  wchar_t* text = nullptr;
  EXPECT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
  const UniqueLocalMemory owner(text);
  return text;
}

// A launcher in a folder that every user may start programs from (a folder on C:\ inherits the
// root's read and execute entry for Users) keeps that access after an update and after a
// rollback, although both files come from the user's own staging folder.
TEST(ProgramSwapTest, TheProgramKeepsItsDaclAcrossUpdateAndRollback) {
#if !defined(VEXO_WINDOWS_RUNNER)
  GTEST_SKIP() << "Wine keeps no descriptors: a row of the Windows runner";
#endif
  const test::ScratchFolder shared(L"swap");
  const std::wstring staging = shared.Join(L".vexo-update-00000000000000000000000000000000");
  const UpdatePaths paths{L"",
                          staging,
                          shared.Join(L"Vexo-Host.exe"),
                          staging + L"\\new.exe",
                          staging + L"\\previous.exe",
                          staging + L"\\failed.exe"};
  const std::vector<std::uint8_t> old_program(65536, 'o');
  WriteNewFile(paths.target, old_program);
  CreateStagingFolder(staging);
  WriteNewFile(paths.new_program, std::vector<std::uint8_t>(65536, 'n'));
  const std::wstring shared_dacl = DaclText(paths.target);
  ASSERT_NE(shared_dacl.find(L";BU)"), std::wstring::npos) << test::ToUtf8(shared_dacl);

  SwapInNewProgram(paths, Sha256Hex(old_program));
  EXPECT_EQ(DaclText(paths.target), shared_dacl);
  PutPreviousProgramBack(paths, Sha256Hex(old_program));
  EXPECT_EQ(DaclText(paths.target), shared_dacl);
}

// Of two finished staging folders the sweep keeps the one made last, though the other one,
// made first, changed last.
TEST(StagingSweepTest, KeepsTheFolderMadeLastThoughAnOlderOneChangedLater) {
#if !defined(VEXO_WINDOWS_RUNNER)
  GTEST_SKIP() << "Wine's creation time of a folder is its last change: a row of the runner";
#endif
  const test::ScratchFolder program_folder(L"sweep");
  const std::wstring made_first = L".vexo-update-" + std::wstring(32, L'a');
  const std::wstring made_last = L".vexo-update-" + std::wstring(32, L'b');
  CreateStagingFolder(program_folder.Join(made_first));
  ::Sleep(50);  // apart by more than the clock's step
  CreateStagingFolder(program_folder.Join(made_last));
  ::Sleep(50);
  WriteNewFile(program_folder.Join(made_first + L"\\applied.json"), std::string_view("{}"));
  SweepFinishedStagingFolders(program_folder.path(), L"Vexo-Host.exe");
  EXPECT_EQ(test::FolderEntries(program_folder.path()), std::vector<std::wstring>{made_last});
}

}  // namespace
}  // namespace vexo
