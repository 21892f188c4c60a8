// The startup update on a Windows runner (docs/wine-gaps.md): the plain launcher, started with
// the limited token as a double-click starts it, against a local HTTPS site of http.sys for the
// build's update host. What Wine cannot show: a certificate the machine's trusted roots vouch
// for and one they do not, WinHTTP's waits ended by the launcher's own deadlines, the worker's
// swap and roll-back renaming over a program that has just ended on NTFS, and no library
// planted beside the program loaded while the update reaches its server. The update's rules
// are tests/update/update_e2e.py's, under Wine. And the user's proxy, which Wine ignores.
//
// Each launcher copy has a damaged payload, so a start that has checked for its update ends at
// the payload check with its box and 13, before any elevation. The release served is the
// stand-in program, published for 0.3.0 with the build's throwaway key.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <sstream>

#include "tools/wine-bench/update_site.h"
#include "tools/wine-bench/wine_driver.h"
#include "update/manifest.h"
#include "update/update_server.h"

namespace vexo::test {
namespace {

constexpr std::uint32_t kChainTimeoutMs = 200000;
// A box stays up as long as a person looks at it, so a restarted program showing one has come up.
constexpr std::uint32_t kLookMs = 3500;
constexpr std::uint32_t kDamagedPayloadExit = 13;
constexpr wchar_t kStagingPrefix[] = L".vexo-update-";

const UpdateSiteMachine& SiteMachine() {
  static const UpdateSiteMachine machine(kUpdateServerHost);
  return machine;
}

struct ChainRun {
  std::uint32_t exit_code = 0;
  std::vector<std::uint32_t> worker_exits;
  double seconds = 0;
};

// A launcher copy with a damaged payload and a bcrypt.dll planted beside it, started under
// update-chain, which waits for every process the start leads to; every box is answered.
class UpdatingLauncher {
 public:
  UpdatingLauncher() {
    FlipResourceByte(path_, 104, 10);
    folder_.CopyIn(InBuildTree(VEXO_PLANTED_BCRYPT_IMAGE), L"bcrypt.dll");
  }

  ChainRun Run(const std::function<void()>& each_look = {}) const {
    BoxResponder responder([](const ObservedBox&) { return IDOK; }, kLookMs);
    const auto begun = std::chrono::steady_clock::now();
    RunningProgram chain =
        StartProgram({InBuildTree(L"bin/update-chain.exe"), {report_, path_}, TokenKind::kLimited});
    ChainRun run;
    run.exit_code = responder.WaitForExit(chain, kChainTimeoutMs, each_look).exit_code;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    std::istringstream lines(FileBytes(report_));
    for (std::string image, code; std::getline(lines, image, '\t') && std::getline(lines, code);) {
      if (image.starts_with(ToUtf8(kStagingPrefix))) {
        run.worker_exits.push_back(static_cast<std::uint32_t>(std::stoul(code)));
      }
    }
    return run;
  }

  // Ends the first program started from the launcher's file other than the launcher itself (the
  // release the worker started) with 1, from outside, as a tool or a person would.
  bool KillRelease() const {
    const std::string launcher_id = FileBytes(report_ + L".pid");
    for (const auto& [id, process] : OpenProcessesRunning(path_)) {
      if (!launcher_id.empty() && std::to_string(id) != launcher_id) {
        return ::TerminateProcess(process.get(), 1) != FALSE;
      }
    }
    return false;
  }

  std::string Program() const { return FileBytes(path_); }
  std::vector<std::wstring> StagingFolders() const {
    std::vector<std::wstring> staging = FolderEntries(folder_.path());
    std::erase_if(staging,
                  [](const std::wstring& name) { return !name.starts_with(kStagingPrefix); });
    return staging;
  }
  std::wstring Join(const std::wstring& name) const { return folder_.Join(name); }

 private:
  ScratchFolder folder_{L"update"};
  ScratchFolder reports_{L"update-report"};
  std::wstring path_ = folder_.CopyIn(InBuildTree(VEXO_LAUNCHER_IMAGE), L"Vexo-Host.exe");
  std::wstring report_ = reports_.Join(L"chain.txt");
};

// A release that comes up is kept; one that ends at once, or is killed from outside before it
// came up (Wine reports 0 for a process killed so), is rolled back, kept aside as failed.exe, and
// never fetched again by later starts.
TEST(StartupUpdateOnWindowsTest, ReleaseThatComesUpIsKeptAndOneThatDoesNotIsRolledBackForGood) {
  if (!LimitedTokenExists()) {
    GTEST_SKIP() << kNoLimitedToken;
  }
  const struct {
    const char* label;
    const wchar_t* stand_in_ms;
    std::uint32_t worker_exit;
    bool killed;
  } rows[] = {{"comes up", L"5000", 0, false},
              {"ends at once", L"0", 1, false},
              {"killed from outside", L"60000", 1, true}};
  const std::string release = FileBytes(InBuildTree(L"bin/stand-in-program.exe"));
  ::DeleteFileW(VEXO_PLANTED_MARKER);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    ::SetEnvironmentVariableW(L"VEXO_TEST_STAND_IN_MS", row.stand_in_ms);
    ::SetEnvironmentVariableW(L"VEXO_TEST_STAND_IN_EXIT", L"3");
    const UpdatingLauncher launcher;
    const std::string old = launcher.Program();
    const LocalUpdateSite site(SiteMachine(), InBuildTree(VEXO_UPDATE_SITE_TREE), {});
    bool killed = false;
    const auto kill = [&] { killed = killed || (row.killed && launcher.KillRelease()); };
    EXPECT_EQ(launcher.Run(kill).worker_exits, std::vector<std::uint32_t>{row.worker_exit});
    EXPECT_EQ(launcher.Program(), row.worker_exit == 0 ? release : old);
    if (row.worker_exit != 0) {
      launcher.Run();
      launcher.Run();
      const std::vector<std::wstring> staging = launcher.StagingFolders();
      ASSERT_EQ(staging.size(), 1u);
      EXPECT_EQ(FileBytes(launcher.Join(staging[0] + L"\\failed.exe")), release);
      EXPECT_EQ(launcher.Program(), old);
      EXPECT_THAT(site.Requests(),
                  testing::Contains(testing::HasSubstr(kProgramFileRequestPrefix)).Times(1));
    }
  }
  EXPECT_EQ(::GetFileAttributesW(VEXO_PLANTED_MARKER), INVALID_FILE_ATTRIBUTES);
}

// A site that fails changes nothing, and the start goes on to its payload check within the
// deadline of what it waited for (10 s for the manifest, 120 s for the program) and 5 s more,
// beside a start with nothing listening. The refused certificate is refused before any request.
TEST(StartupUpdateOnWindowsTest, SiteThatFailsChangesNothingAndTheStartGoesOn) {
  if (!LimitedTokenExists()) {
    GTEST_SKIP() << kNoLimitedToken;
  }
  const std::wstring files =
      InBuildTree(VEXO_UPDATE_SITE_TREE) + L"\\api\\program-updates\\v1\\files";
  const std::string program = kProgramFileRequestPrefix + ToUtf8(FolderEntries(files).at(0));
  const std::string manifest = std::string(kManifestRequestPrefix) + "host";
  const struct {
    const char* label;
    std::optional<SiteBehaviour> site;
    double deadline_seconds;
  } rows[] = {
      {"nothing listening", std::nullopt, 0},
      {"a certificate no root vouches for", SiteBehaviour{.trusted_certificate = false}, 10},
      {"takes the request and never answers", SiteBehaviour{.silent = true}, 10},
      {"manifest trickled over 30 s",
       SiteBehaviour{.trickled_path = manifest, .trickle_seconds = 30}, 10},
      {"program trickled over 150 s",
       SiteBehaviour{.trickled_path = program, .trickle_seconds = 150}, 120},
  };
  double baseline_seconds = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const UpdatingLauncher launcher;
    const std::string old = launcher.Program();
    std::optional<LocalUpdateSite> site;
    if (row.site) {
      site.emplace(SiteMachine(), InBuildTree(VEXO_UPDATE_SITE_TREE), *row.site);
    }
    const ChainRun run = launcher.Run();
    EXPECT_EQ(run.exit_code, kDamagedPayloadExit);
    EXPECT_EQ(launcher.Program(), old);
    EXPECT_TRUE(launcher.StagingFolders().empty());
    baseline_seconds = baseline_seconds == 0 ? run.seconds : baseline_seconds;
    EXPECT_LT(run.seconds - baseline_seconds, row.deadline_seconds + 5);
    if (site) {
      EXPECT_EQ(site->Requests().empty(), !row.site->trusted_certificate);
    }
  }
}

// The way to the site is the one the user's proxy settings give, as for a browser: the tunnel
// is asked of the user's proxy (Wine's WinHTTP ignores it). A proxy that refuses it changes
// nothing, and the start goes on.
TEST(StartupUpdateOnWindowsTest, TheUsersProxyIsAskedForTheTunnel) {
  if (!LimitedTokenExists()) {
    GTEST_SKIP() << kNoLimitedToken;
  }
  const UpdatingLauncher launcher;
  const std::string old = launcher.Program();
  const UserProxyRecorder proxy;
  EXPECT_EQ(launcher.Run().exit_code, kDamagedPayloadExit);
  EXPECT_EQ(launcher.Program(), old);
  EXPECT_THAT(proxy.RequestLines(),
              testing::Contains("CONNECT " + ToUtf8(kUpdateServerHost) + ":443 HTTP/1.1"));
}

}  // namespace
}  // namespace vexo::test
