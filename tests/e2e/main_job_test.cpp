// The launcher's main job end to end: the run folder under Program Files, the Host's two runs,
// the broker service, the removal and the cleanup command, seen from outside through the message
// boxes, the exit codes, the folders and the service control manager. Under Wine in the emulated
// build (recorded descriptors, and LocalSystem for the process of a service registered for it);
// on a Windows runner the plain launcher meets the descriptors and accounts Windows keeps, and
// the rows that need the emulated build's disk, link or crash points are left out.
//
// A run left behind is made as a customer's PC gets one: the launcher ends while its Host window
// is up; its job ends the Host, and the run folder and the registered broker service stay. The
// base folder lies on a small disk of its own (cmake/base-folder-disk), so a row can fill it up;
// the same fixture leaves a Unix symbolic link there, inside a folder a row moves into a run
// folder, since Wine 8 makes no Windows links and its calls follow Unix ones.
// docs/main-job-under-wine.md says what Wine cannot show and how it is covered.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <thread>

#include "cleanup/messages.h"
#include "common/hex.h"
#include "common/path.h"
#include "common/product.h"
#include "common/sha256.h"
#include "demo-host/host_knobs.h"
#include "deploy/messages.h"
#include "fs/emulated_security_store.h"
#include "fs/messages.h"
#include "launcher/messages.h"
#include "payload/embedded_catalogue.h"
#include "payload/messages.h"
#include "tests/e2e/launcher_test_support.h"
#include "tests/support/demo_host_run.h"

namespace vexo::test {
namespace {

// A folder made with the run folder descriptor, in the form Windows stores on a folder.
#define STORED_RUN_SDDL \
  L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GRGX;;;BU)"
// The fixture's folder in the base folder; its one entry `fonts` links to ..\fonts-original.
#define LINK_FOLDER L"fonts-link"
constexpr int kLaunchers = 20;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring Base(const std::wstring& name) {
  return JoinPath(GetBaseFolder(), name);
}

// The run folders in the base folder.
std::vector<std::wstring> RunFolders() {
  std::vector<std::wstring> names = FolderEntries(GetBaseFolder());
  std::erase_if(names, [](const std::wstring& name) { return !IsRunId(name); });
  return names;
}

// Files held open by another program (a scanner) for a while, let go at the end of a row at the
// latest.
std::vector<std::jthread> g_holders;

BOOL HoldAsAScannerWould(const std::wstring& path, DWORD milliseconds) {
  auto file = std::make_shared<UniqueHandle>(
      ::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  g_holders.emplace_back([file, milliseconds] { ::Sleep(milliseconds); });
  return file->valid();
}

// What rows leave in the base folder, the broker services of its run folders included; the
// fixture's link goes back to its folder, since no Windows call removes a Unix link.
void ClearBaseFolder() {
  g_holders.clear();
  for (const std::wstring& name : FolderEntries(GetBaseFolder())) {
    ForceRemoveService(BrokerServiceName(name));
    const DWORD fonts = ::GetFileAttributesW(JoinPath(Base(name), L"assets\\fonts").c_str());
    if (!kOnWindows && fonts != INVALID_FILE_ATTRIBUTES &&
        (fonts & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      ::MoveFileW(JoinPath(Base(name), L"assets").c_str(), Base(LINK_FOLDER).c_str());
    }
    if (name != LINK_FOLDER) {
      RemoveTree(Base(name));
    }
  }
}

// A file's bytes; a folder or a missing file does not open: none.
std::vector<std::uint8_t> Bytes(const std::wstring& path) {
  const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  std::vector<std::uint8_t> bytes(::GetFileSize(file.get(), nullptr) + 1);
  DWORD read = 0;
  ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  bytes.resize(read);
  return bytes;
}

std::string Sha256Of(const std::wstring& path) {
  return ToLowerHex(Sha256Bytes(Bytes(path), [](Sha256Step) { ThrowSupportError("SHA-256", 0); }));
}

// Every entry below a run folder (or any folder, but `skip`) with its attributes and SHA-256
// (links listed, never entered), then the run's broker service: "no service" alone once the run
// is gone.
std::string Snapshot(const std::wstring& run, const std::wstring& skip = L"") {
  std::string listing;
  const std::function<void(const std::wstring&)> list = [&](const std::wstring& folder) {
    for (const std::wstring& name : FolderEntries(folder)) {
      const std::wstring path = JoinPath(folder, name);
      const DWORD attributes = ::GetFileAttributesW(path.c_str());
      listing += path == skip ? ""
                              : ToUtf8(path) + " " + std::to_string(attributes) + " " +
                                    Sha256Of(path) + "\n";
      if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
              FILE_ATTRIBUTE_DIRECTORY &&
          path != skip) {
        list(path);
      }
    }
  };
  list(run);
  return listing + ServiceText(BrokerServiceName(FileName(run)));
}

// Changes a run folder as `ops` say, one operation per "|", paths relative to the run folder
// ("..\x" lies in the base folder): file, hidden or folder P (made new); write P (its first
// byte); fill P N (P made new, filling the disk until N bytes are free); copy, move or hardlink
// P Q (Q the new name); delete P; hold P MS (P held open with delete sharing for MS
// milliseconds); sddl P SDDL (recorded as P's descriptor); symlink P Q (P a link to the folder
// Q); register P (a broker service of the run's name, binary path P); repath P (the broker
// service's binary path).
void Change(const std::wstring& run, const std::wstring& ops) {
  std::wistringstream all(ops);
  const std::wstring service = BrokerServiceName(FileName(run));
  for (std::wstring op, verb, p, q; std::getline(all, op, L'|');) {
    std::wistringstream(op) >> verb >> p >> q;
    const std::wstring a = JoinPath(run, p);
    const std::wstring b = JoinPath(run, q);
    ULARGE_INTEGER free{};
    ::GetDiskFreeSpaceExW(GetBaseFolder().c_str(), &free, nullptr, nullptr);
    const std::map<std::wstring, std::size_t> sizes = {
        {L"file", 0}, {L"hidden", 0}, {L"write", 1}, {L"fill", free.QuadPart - _wtoi64(q.c_str())}};
    const UniqueHandle file(
        sizes.contains(verb) ? ::CreateFileW(a.c_str(), GENERIC_WRITE, 0, nullptr,
                                             verb == L"write" ? OPEN_EXISTING : CREATE_NEW,
                                             verb == L"hidden" ? FILE_ATTRIBUTE_HIDDEN : 0, nullptr)
                             : nullptr);
    const UniqueServiceHandle manager(
        ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    const UniqueServiceHandle broker(
        ::OpenServiceW(manager.get(), service.c_str(), SERVICE_CHANGE_CONFIG));
    DWORD written = 0;
    const BOOL done =
        file                  ? ::WriteFile(file.get(), std::string(sizes.at(verb), 'X').data(),
                                            static_cast<DWORD>(sizes.at(verb)), &written, nullptr)
        : verb == L"folder"   ? ::CreateDirectoryW(a.c_str(), nullptr)
        : verb == L"copy"     ? ::CopyFileW(a.c_str(), b.c_str(), TRUE)
        : verb == L"move"     ? ::MoveFileW(a.c_str(), b.c_str())
        : verb == L"hardlink" ? ::CreateHardLinkW(b.c_str(), a.c_str(), nullptr)
        : verb == L"delete"   ? ::DeleteFileW(a.c_str())
        : verb == L"hold"     ? HoldAsAScannerWould(a, _wtoi(q.c_str()))
        : verb == L"sddl"     ? (RecordSecurity(a, q.c_str()), TRUE)
        : verb == L"symlink"
            ? ::CreateSymbolicLinkW(a.c_str(), b.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)
        : verb == L"register"
            ? ::CloseServiceHandle(::CreateServiceW(
                  manager.get(), service.c_str(), nullptr, SERVICE_QUERY_STATUS,
                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, p.c_str(),
                  nullptr, nullptr, nullptr, nullptr, nullptr))
        : verb == L"repath"
            ? ::ChangeServiceConfigW(broker.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     SERVICE_NO_CHANGE, p.c_str(), nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr)
            : FALSE;
    EXPECT_TRUE(done) << ToUtf8(op);
  }
}

class MainJobTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!kOnWindows) {  // the emulated store; Windows keeps descriptors itself
      ::SetEnvironmentVariableW(emulated_security::kStoreVariable, store_.path().c_str());
      RecordSecurity(GetProgramFilesFolder(), kProgramFilesSddl);
      RecordSecurity(GetBaseFolder(), STORED_RUN_SDDL);
    }
    ClearBaseFolder();
  }
  void TearDown() override { ClearBaseFolder(); }

  // The launcher, an elevated administrator as every Wine process is, under `boxes`. Once the
  // Host window is up, `at_host` gets the run folder it names (the stand-in titles its window
  // with the run id) and may add boxes; then the Host ends with `host_exit`, the code of the
  // WM_QUIT it gets, or without one the launcher is ended (its job ends the Host; the run stays).
  ScriptedRun Run(std::vector<std::wstring> arguments,
                  BoxScript boxes,
                  std::optional<std::uint32_t> host_exit,
                  const std::function<void(const std::wstring&, BoxScript&)>& at_host = {}) {
    run_.clear();
    made_.clear();
    return RunWithBoxes(
        launcher_.Start(std::move(arguments), TokenKind::kFull), std::move(boxes),
        kLauncherTimeoutMs, [&](RunningProgram& launcher, BoxScript& script) {
          const std::vector<std::wstring> runs = RunFolders();
          made_ = made_.empty() && !runs.empty() ? Base(runs[0]) : made_;
          std::wstring title(64, L'\0');
          const HWND host = ::FindWindowW(product::kHostWindowClass, nullptr);
          title.resize(static_cast<std::size_t>(::GetWindowTextW(host, title.data(), 64)));
          if (!run_.empty() || title.size() < kRunIdLength) {
            return;
          }
          run_ = Base(title.substr(title.size() - kRunIdLength));
          if (at_host) {
            at_host(run_, script);
          }
          if (host_exit) {
            ::PostMessageW(host, WM_QUIT, *host_exit, 0);
            return;
          }
          launcher.Terminate();
          for (int i = 0; i < 500 && ::FindWindowW(product::kHostWindowClass, nullptr); ++i) {
            ::Sleep(20);
          }
          EXPECT_FALSE(::FindWindowW(product::kHostWindowClass, nullptr)) << "the Host outlived";
        });
  }

  // --cleanup-elevated of `run`, which must end with `code`: the success box for 0, otherwise
  // the failure box with `sentence`.
  void CleanUp(const std::wstring& run, std::uint32_t code, const wchar_t* sentence) {
    const ScriptedRun done =
        Run({L"--cleanup-elevated", FileName(run)},
            code == 0 ? BoxScript().ExpectOk(BoxIcon::kInformation, message::kCleanupDone)
                      : BoxScript().ExpectOk(BoxIcon::kError, FailureBoxText(sentence, code)),
            0);
    EXPECT_TRUE(BoxesAsScripted(done));
    EXPECT_EQ(done.result.exit_code, code);
  }

  ScratchFolder store_{L"store"};
  LauncherCopy launcher_{L"main-job"};
  std::wstring run_;   // the run folder of the last Host window
  std::wstring made_;  // the first run folder seen during the last run, with or without a Host
};

// Each row makes a run left behind and cleans it up. A run is left behind by a launcher ended
// while its Host window is up, then changed (Change); or by a launcher that ends at one of its
// crash points ("crash POINT[@PASS]", the test build's points end it as a kill would, leaving a
// marker), whose run folder's name is the run id to clean up. A refused cleanup leaves every
// byte of the run folder and its service as they were; nothing outside the run is ever touched
// (beside each run lies another run folder, holding an unknown file). A removed run is not found
// by a second cleanup, and after a crash a normal start works again.
TEST_F(MainJobTest, LeftoverRunIsRemovedOnlyAsDeployed) {
  constexpr std::uint32_t kNoRun = 0xFFFFFFFF;
  const wchar_t* unknown = message::kUnknownFilesKept;
  const wchar_t* linked = message::kLinkedOrChangedPath;
  const struct {
    const wchar_t* ops;
    std::uint32_t code;  // of the cleanup; 0: the run is removed
    const wchar_t* message;
  } cases[] = {
    // One unknown entry in each folder the sweep looks at, one of each kind.
    {L"file notes.txt", 5, unknown},
    {L"folder assets\\notes", 5, unknown},
    {L"hidden assets\\fonts\\desktop.ini", 5, unknown},
    {L"copy Vexo-Host.exe assets\\Vexo-Host.exe", 5, unknown},
    {L"move assets\\fonts\\OFL.txt ..\\m|folder assets\\fonts\\OFL.txt", 5,
     message::kFileNotPinned},
    {L"move assets ..\\m|file assets", 5, linked},
    // A folder of a payload folder's name that nobody secured keeps Wine's answer (the user
    // as owner), which the strict rule refuses.
    {L"move assets ..\\m|folder assets", 5, message::kFolderSecurityUnsafe},
#if defined(VEXO_WINDOWS_RUNNER)
    {L"move assets\\fonts ..\\fonts-original|symlink assets\\fonts ..\\fonts-original", 5, linked},
#else
    {L"move assets\\fonts ..\\fonts-original|move assets ..\\m|move "
     L"..\\" LINK_FOLDER L" assets|sddl assets " STORED_RUN_SDDL,
     5, linked},
#endif
    {L"hardlink assets\\fonts\\NanumSquareB.ttf ..\\link.ttf", 5, linked},
    {L"write assets\\fonts\\NanumSquareEB.ttf", 13, message::kVersionMismatch},
    {L"sddl assets O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)", 5,
     message::kFolderSecurityUnsafe},
    {L"repath C:\\Host.exe", 5, message::kBrokerDiffers},
    {L"delete OPENSSL_LICENSE.txt", 2, message::kFileNotPinned},
    // A scanner holds a font open with delete sharing for 4.5 seconds, past the removal of the
    // font's folder: the font stays until it lets go (Wine knows no POSIX delete), and the
    // folder's deletion waits for it.
    {L"hold assets\\fonts\\OFL.txt 4500", 0, nullptr},
#if defined(VEXO_TEST_KNOBS)
    // One row per crash point of the main job (docs/main-job-under-wine.md), the broker
    // service running from the preparation run on. Ended halfway through writing the Host, the
    // launcher leaves a leading part of it, which is its own.
    {L"crash deploy-base-folder", kNoRun, nullptr},
    {L"crash deploy-run-folder", 0, nullptr},
    {L"crash deploy-payload-half-written@1", 0, nullptr},
    // The same leading part with its first byte changed afterwards is not the launcher's.
    {L"crash deploy-payload-half-written@1|write Vexo-Host.exe", 13, message::kVersionMismatch},
    {L"crash deploy-payload-file@1", 0, nullptr},
    {L"crash deploy-payload-file@8", 0, nullptr},
    {L"crash deploy-broker-checked", 0, nullptr},
    {L"crash deploy-host-prepared", 0, nullptr},
    {L"crash deploy-host-started@2", 0, nullptr},
    {L"crash cleanup-service-stopped", 0, nullptr},
    {L"crash cleanup-service-deleted", 0, nullptr},
    {L"crash cleanup-file-deleted@1", 0, nullptr},
    {L"crash cleanup-file-deleted@8", 0, nullptr},
    {L"crash cleanup-folder-deleted@1", 0, nullptr},
    {L"crash cleanup-folder-deleted@2", 0, nullptr},
    {L"crash cleanup-folder-deleted@3", ERROR_FILE_NOT_FOUND, message::kProtectedFolderNotOpened},
#endif
  };
  for (const auto& c : cases) {
    const std::wstring ops = c.ops;
    SCOPED_TRACE(ToUtf8(ops));
    // "crash POINT[@PASS][|OPS]": the launcher ends at the point, then the run is changed by OPS.
    const bool crash = ops.starts_with(L"crash ");
    const std::size_t bar = std::min(ops.find(L'|'), ops.size());
    const std::wstring point = crash ? ops.substr(6, bar - 6) : L"";
    const std::wstring after = crash ? ops.substr(std::min(bar + 1, ops.size())) : ops;
    if (crash) {
      const std::wstring marker = store_.Join(point);
      ::SetEnvironmentVariableW(L"VEXO_TEST_CRASH_POINT", point.c_str());
      ::SetEnvironmentVariableW(L"VEXO_TEST_CRASH_MARKER", marker.c_str());
      const HostKnobs knobs(L"start-service");
      EXPECT_TRUE(BoxesAsScripted(Run({}, {}, 0)));
      ::SetEnvironmentVariableW(L"VEXO_TEST_CRASH_POINT", nullptr);
      const std::vector<std::uint8_t> reached = Bytes(marker);
      EXPECT_EQ(std::wstring(reached.begin(), reached.end()), point.substr(0, point.find(L'@')));
    } else {
      EXPECT_TRUE(BoxesAsScripted(Run({}, {}, std::nullopt)));
    }
    const std::vector<std::wstring> runs = RunFolders();
    const std::wstring run = run_.empty() && !runs.empty() ? Base(runs[0]) : run_;
    const std::wstring other = Base(NewRunId());
    Change(other, L"folder .|file notes.txt");
    ASSERT_EQ(run.empty(), c.code == kNoRun);
    if (!run.empty()) {
      Change(run, after);
      const std::string before = Snapshot(run);
      const std::string outside = Snapshot(GetBaseFolder(), run);
      CleanUp(run, c.code, c.message);
      EXPECT_EQ(Snapshot(run), c.code == 0 ? "no service" : before);
      EXPECT_EQ(Snapshot(GetBaseFolder(), run), outside);
      if (c.code == 0) {
        CleanUp(run, ERROR_FILE_NOT_FOUND, message::kProtectedFolderNotOpened);
      }
    }
    if (crash) {  // and a normal start works again
      EXPECT_TRUE(BoxesAsScripted(Run({}, {}, 0)));
    }
    ClearBaseFolder();
  }
}

// A normal start deploys, runs the Host and removes its run: the Host's exit code or the
// failure's is the result, told in one closing message with the warning icon. Neither the run
// folder nor its broker service is left; the base folder stays.
TEST_F(MainJobTest, DeploymentRemovesItsRunWhateverTheOutcome) {
  WIN32_FILE_ATTRIBUTE_DATA host{};
  ::GetFileAttributesExW(InBuildTree(VEXO_DEMO_HOST_IMAGE).c_str(), GetFileExInfoStandard, &host);
  [[maybe_unused]] const std::wstring room_for_a_host_and_an_icon =
      std::to_wstring(host.nFileSizeLow + 524288);
  const struct {
    const wchar_t* knobs;
    std::wstring ops;  // in the base folder before the start (Change)
    std::uint32_t host_exit;
    std::wstring closing;  // the closing message; empty: none
    std::uint32_t exit_code;
  } cases[] = {
    // The preparation run ends with 2: nothing registered, the whole removal runs.
    {L"exit=2", L"", 0, FailureBoxText(message::kAuxiliaryServiceNotPrepared, 2), 2},
    // The Host ends with 0, its broker service running and a grandchild of each Host run left
    // in its job: silent, and nothing of the run is left.
    {L"start-service;child", L"", 0, L"", 0},
    // Any exit code of the Host is shown in decimal and returned.
    {L"", L"", 3221225477, std::wstring(message::kHostEnded) + L"3221225477", 3221225477},
#if !defined(VEXO_WINDOWS_RUNNER)
    // The disk is full at the third payload file (a Host and an icon still fit): the files
    // and folders made are removed directly, the base folder stays.
    {L"", L"fill ballast " + room_for_a_host_and_an_icon, 0,
     FailureBoxText(message::kPayloadFileNotSaved, ERROR_DISK_FULL), ERROR_DISK_FULL},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.closing));
    const HostKnobs knobs(c.knobs);
    Change(GetBaseFolder(), c.ops);
    const ScriptedRun run = Run(
        {}, c.closing.empty() ? BoxScript() : BoxScript().ExpectOk(BoxIcon::kWarning, c.closing),
        c.host_exit);
    EXPECT_TRUE(BoxesAsScripted(run));
    EXPECT_EQ(run.result.exit_code, c.exit_code);
    EXPECT_TRUE(RunFolders().empty());
    ASSERT_FALSE(made_.empty());
    EXPECT_EQ(ServiceText(BrokerServiceName(FileName(made_))), "no service");
    ClearBaseFolder();
  }
}

// The closing message of a run whose removal failed: what went wrong first, the removal's
// failure, what is left and the quoted command that removes it later.
std::wstring RemovalFailedText(const std::wstring& first,
                               const wchar_t* sentence,
                               DWORD code,
                               const std::wstring& launcher,
                               const std::wstring& folder) {
  return first + L"\n\n" + FailureBoxText(sentence, code) + L"\n\n" + message::kRemainingPath +
         folder + L"\n" + message::kRunCleanupCommandLater + L"\n\"" + launcher + L"\" --cleanup " +
         FileName(folder);
}

// What appears in the run folder while the launcher is held still right after it made it,
// before it made any payload file. No Host starts. A service of the run's broker name stops the
// run with 183, the run folder goes by the direct removal and the service is left untouched. A
// payload file already there is never taken over or written: the run stops, what it made itself
// is removed, and the run folder that holds the stranger is kept.
TEST_F(MainJobTest, WhatAppearsInANewRunFolderIsNeverTakenOver) {
  const std::wstring report = store_.Join(L"host-started.txt");
  const HostKnobs knobs(L"report=" + report);
  const auto ntdll = [](const char* name) {
    return reinterpret_cast<LONG(NTAPI*)(HANDLE)>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
  };
  const struct {
    const wchar_t* ops;      // on the new run folder (Change)
    const wchar_t* planted;  // the file they make; none: they register the service
    const wchar_t* sentence;
    DWORD code;
  } cases[] = {
      {L"register C:\\Host.exe", nullptr, message::kBrokerServiceAlreadyExists, 183},
      {L"file OPENSSL_LICENSE.txt", L"OPENSSL_LICENSE.txt", message::kPayloadFileNotNew,
       ERROR_FILE_EXISTS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const UniqueHandle made(::FindFirstChangeNotificationW(GetBaseFolder().c_str(), FALSE,
                                                           FILE_NOTIFY_CHANGE_DIR_NAME));
    std::wstring folder;
    std::wstring service;
    std::string digest;
    const ScriptedRun run = RunWithBoxes(
        launcher_.Start({}, TokenKind::kFull), {}, kLauncherTimeoutMs,
        [&](RunningProgram& launcher, BoxScript& boxes) {
          if (!folder.empty() || ::WaitForSingleObject(made.get(), 10000) != WAIT_OBJECT_0) {
            return;
          }
          ntdll("NtSuspendProcess")(launcher.handle());
          folder = Base(RunFolders().at(0));
          service = BrokerServiceName(FileName(folder));
          EXPECT_FALSE(PathExists(JoinPath(folder, L"OPENSSL_LICENSE.txt"))) << "came too late";
          Change(folder, c.ops);
          if (c.planted == nullptr) {
            boxes.ExpectOk(BoxIcon::kWarning, FailureBoxText(c.sentence, c.code));
          } else {
            digest = Sha256Of(JoinPath(folder, c.planted));
            boxes.ExpectOk(BoxIcon::kWarning,
                           RemovalFailedText(FailureBoxText(c.sentence, c.code),
                                             message::kTemporaryFilesNotCleaned,
                                             ERROR_DIR_NOT_EMPTY, launcher_.path(), folder));
          }
          ntdll("NtResumeProcess")(launcher.handle());
        });
    EXPECT_TRUE(BoxesAsScripted(run));
    EXPECT_EQ(run.result.exit_code, c.code);
    EXPECT_FALSE(PathExists(report));
    EXPECT_EQ(FolderEntries(folder),
              c.planted ? std::vector<std::wstring>{c.planted} : std::vector<std::wstring>{});
    EXPECT_EQ(c.planted ? Sha256Of(JoinPath(folder, c.planted)) : "", digest);
    EXPECT_EQ(ServiceText(service), c.planted ? "no service" : "C:\\Host.exe|LocalSystem|16|3|1");
    ForceRemoveService(service);
    ClearBaseFolder();
  }
}

// The launcher's Host ends with 5 while the run's Host, started again by the customer under
// another letter case, still runs: the removal stops with 170, the result stays 5, and
// the closing message names what is left and the quoted command. The Host gets the environment
// the launcher builds, not the launcher's own: a folder the customer put first on PATH is not
// in it. While the Host runs, its payload files can be read but not written or deleted. Run as
// printed once that Host is closed, the command removes the rest, though a Host of another
// folder runs, which a normal start meets.
TEST_F(MainJobTest, FailedRemovalNamesTheCommandThatFinishesIt) {
  const std::wstring report = store_.Join(L"host-report.txt");
  const HostKnobs knobs(L"report=" + report);
  const std::wstring customer_folder = store_.Join(L"customer-programs");
  // The launcher's PATH as a customer may set it, which later tests keep.
  ::SetEnvironmentVariableW(L"PATH", (customer_folder + L";C:\\windows\\system32").c_str());
  std::optional<RunningProgram> run_host;
  const ScriptedRun run = Run({}, {}, 5, [&](const std::wstring& folder, BoxScript& boxes) {
    const std::vector<std::uint8_t> bytes = Bytes(report);
    const std::wstring environment(reinterpret_cast<const wchar_t*>(bytes.data()),
                                   bytes.size() / sizeof(wchar_t));
    EXPECT_NE(environment.find(L"\nPATH="), std::wstring::npos);
    EXPECT_EQ(environment.find(customer_folder), std::wstring::npos);
    const PayloadEntry& font = kPayloadCatalogue[5];
    const std::wstring font_path = JoinPath(folder, font.relative_path);
    EXPECT_EQ(Sha256Of(font_path), font.expected_digest);
    for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{DELETE}}) {
      const UniqueHandle opened(
          ::CreateFileW(font_path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
      EXPECT_EQ(opened ? 0 : ::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    run_host.emplace(
        StartProgram({JoinPath(folder, L"VEXO-HOST.EXE"), {demo_host::kOutlivingChildSwitch}}));
    boxes.ExpectOk(BoxIcon::kWarning,
                   RemovalFailedText(std::wstring(message::kHostEnded) + L"5",
                                     message::kCloseHostFirst, 170, launcher_.path(), folder));
  });
  EXPECT_TRUE(BoxesAsScripted(run));
  EXPECT_EQ(run.result.exit_code, 5u);
  run_host.reset();
  // The Host of another folder, its window minimised: a normal start brings it forward and
  // refuses; the cleanup command goes on.
  const DemoHostRun other_folder;
  const RunningProgram other_host = StartProgram({other_folder.host_path()});
  HWND window = nullptr;
  for (int i = 0; i < 500 && !(window = ::FindWindowW(product::kHostWindowClass, nullptr)); ++i) {
    ::Sleep(20);
  }
  ::ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(::IsIconic(window));
  EXPECT_TRUE(BoxesAsScripted(launcher_.Run(
      {}, BoxScript().ExpectOk(BoxIcon::kInformation,
                               FailureBoxText(message::kCloseExistingHostFirst, 183)))));
  EXPECT_FALSE(::IsIconic(window));
  const std::wstring& text = run.boxes.at(0).text;
  int count = 0;
  const UniqueArgv argv(::CommandLineToArgvW(text.substr(text.rfind(L'\n') + 1).c_str(), &count));
  ASSERT_EQ(count, 3);
  EXPECT_TRUE(BoxesAsScripted(
      RunWithBoxes({argv.get()[0], {argv.get()[1], argv.get()[2]}},
                   BoxScript()
                       .ExpectYesNo(BoxIcon::kInformation, message::kCleanupConfirmation, IDYES)
                       .ExpectOk(BoxIcon::kInformation, message::kCleanupDone),
                   kLauncherTimeoutMs)));
  EXPECT_EQ(Snapshot(run_), "no service");
}

// Launchers started at one moment in one session: one makes a run folder and starts the Host;
// every other one says 183 and ends without a run of its own.
TEST_F(MainJobTest, LaunchersStartedAtOnceMakeOneRun) {
  const std::wstring already_running = FailureBoxText(message::kAlreadyRunning, 183);
  std::vector<std::string> unexpected;
  BoxResponder responder([&](const ObservedBox& box) {
    if (box.icon != BoxIcon::kInformation || box.text != already_running) {
      unexpected.push_back(DescribeBox(box));
    }
    return IDOK;
  });
  std::vector<RunningProgram> launchers;
  for (int i = 0; i < kLaunchers; ++i) {
    launchers.push_back(StartProgram(launcher_.Start({}, TokenKind::kFull)));
  }
  std::vector<std::wstring> runs;
  std::vector<HWND> hosts;
  const auto end_host_once_the_others_ended = [&] {
    const HWND host = ::FindWindowW(product::kHostWindowClass, nullptr);
    if (hosts.empty() && host != nullptr &&
        std::count_if(launchers.begin(), launchers.end(),
                      [](const RunningProgram& p) { return p.HasEnded(); }) == kLaunchers - 1) {
      runs = RunFolders();
      for (HWND w = host; w != nullptr;
           w = ::FindWindowExW(nullptr, w, product::kHostWindowClass, nullptr)) {
        hosts.push_back(w);
      }
      ::PostMessageW(host, WM_QUIT, 0, 0);
    }
  };
  std::map<std::uint32_t, int> exit_codes;
  for (RunningProgram& launcher : launchers) {
    ++exit_codes[responder.WaitForExit(launcher, kLauncherTimeoutMs, end_host_once_the_others_ended)
                     .exit_code];
  }
  EXPECT_TRUE(unexpected.empty()) << testing::PrintToString(unexpected);
  EXPECT_EQ(exit_codes, (std::map<std::uint32_t, int>{{0, 1}, {183, kLaunchers - 1}}));
  EXPECT_EQ(hosts.size(), 1u);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(Snapshot(Base(runs[0])), "no service");
}

}  // namespace
}  // namespace vexo::test
