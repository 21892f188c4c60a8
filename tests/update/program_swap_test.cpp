// The worker's two swaps keep the program's DACL. Windows keeps a file's descriptor across a
// rename and Wine keeps none (docs/wine-gaps.md), so this runs on the Windows runner only.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/wine-bench/wine_driver.h"
#include "update/program_swap_win.h"
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

}  // namespace
}  // namespace vexo
