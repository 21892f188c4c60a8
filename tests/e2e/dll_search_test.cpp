// A bcrypt.dll planted beside the real launcher is never loaded, in any mode.
//
// Wine prefers its built-in DLLs and would ignore a planted one whatever the launcher did, so
// this test runs with WINEDLLOVERRIDES=bcrypt=n,b (its ctest registration; the programs it
// starts inherit it): Wine then searches for bcrypt.dll as Windows does for a DLL that is not a
// known DLL, the program's folder first. The control row, a program that imports bcrypt.dll
// statically, shows that the planted DLL is then loaded (docs/dll-search.md).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "deploy/messages.h"
#include "fs/file_identity.h"
#include "launcher/messages.h"
#include "tests/e2e/launcher_test_support.h"
#include "tests/support/box_watcher.h"
#include "tests/support/demo_host_run.h"

namespace vexo::test {
namespace {

// Runs a copy of `image` (named `name`, by default as the image) beside the planted bcrypt.dll,
// which must show the boxes of `boxes` and end with `exit_code` (so it got as far as its mode
// goes), and reports whether the planted DLL was loaded.
bool LoadsPlantedBcrypt(const std::wstring& image,
                        const std::vector<std::wstring>& arguments,
                        TokenKind token,
                        const BoxScript& boxes,
                        std::uint32_t exit_code,
                        std::wstring name = {}) {
  const ScratchFolder folder(L"planted");
  folder.CopyIn(InBuildTree(VEXO_PLANTED_BCRYPT_IMAGE), L"bcrypt.dll");
  if (name.empty()) {
    name = std::filesystem::path(image).filename().wstring();
  }
  ::DeleteFileW(VEXO_PLANTED_MARKER);
  const ProgramStart start{folder.CopyIn(image, name), arguments, token, folder.path()};
  const ScriptedRun run = RunWithBoxes(start, boxes, kLauncherTimeoutMs);
  EXPECT_TRUE(BoxesAsScripted(run));
  EXPECT_EQ(run.result.exit_code, exit_code);
  return PathExists(VEXO_PLANTED_MARKER);
}

// Unelevated, the normal start hashes its payload with CNG and starts its elevated instance
// (--portable-elevated) from the same file; where that instance really is elevated (a UAC
// runner) it deploys, and the Host's failing preparation (its knob) ends the run. Under another
// name than its role's, so its update check stays off the network: Wine's own WinHTTP loads its
// dependencies past the override from the program's folder, where Windows searches only the
// system folder (docs/dll-search.md).
TEST(DllSearchTest, PlantedBcryptIsNotLoadedByAnUnelevatedStart) {
  if (!LimitedTokenExists())
    GTEST_SKIP() << kNoLimitedToken;
  const HostKnobs knobs(L"exit=2");
  // Under Wine the elevated instance is refused for lack of rights (5, its box); where it is
  // elevated, the Host's failing preparation ends the run (2, its box).
  const std::uint32_t code = kOnWindows ? 2 : 5;
  const BoxScript boxes = BoxScript().ExpectOk(
      BoxIcon::kError, FailureBoxText(kOnWindows ? message::kAuxiliaryServiceNotPrepared
                                                 : message::kAdministratorApprovalRequired,
                                      code));
  EXPECT_FALSE(LoadsPlantedBcrypt(InBuildTree(VEXO_LAUNCHER_IMAGE), {}, TokenKind::kLimited, boxes,
                                  code, L"Vexo-Host (1).exe"));
}

// The update worker starts without the payload.
TEST(DllSearchTest, PlantedBcryptIsLoadedOnlyByAStaticImporter) {
  // The worker outside a staging folder refuses with 13.
  EXPECT_FALSE(LoadsPlantedBcrypt(InBuildTree(VEXO_LAUNCHER_IMAGE),
                                  {L"--vexo-update-worker", L"1234"}, TokenKind::kFull, {}, 13));
  // The importer's call reaches the planted function, which refuses it: the importer ends with 1.
  EXPECT_TRUE(
      LoadsPlantedBcrypt(InBuildTree(VEXO_BCRYPT_IMPORTER_IMAGE), {}, TokenKind::kFull, {}, 1));
}

}  // namespace
}  // namespace vexo::test
