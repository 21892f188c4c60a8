// The real launcher under Wine, seen only from outside: its message boxes and its exit code.
//
// One row per distinct outcome of its modes: the payload check, damaged payloads, command lines
// of no known shape, the elevated switches without rights, the cleanup confirmation answered No
// and the elevated start under plain Wine. The command-line grammar itself is tested in
// tests/launcher/launch_request_test.cpp; here one row shows that its refusal reaches the
// outside as 87 without a window. Then the session: a lock held or squatted at a normal start,
// a start in the services' session 0, and the hand-over to the instance started through "runas".
//
// Wine starts a "runas" program with the caller's own token, so from a limited start the
// re-started instance has no rights either: it shows its own refusal and ends with 5, which the
// waiting parent must pass on unchanged and silently. docs/elevation-under-wine.md says what
// Wine cannot show and how it is covered instead.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <winternl.h>

#include <cstring>

#include "common/path.h"
#include "fs/messages.h"
#include "launcher/messages.h"
#include "launcher/session_lock_name.h"
#include "payload/messages.h"
#include "tests/e2e/launcher_test_support.h"
#include "tests/support/demo_host_run.h"

namespace vexo::test {
namespace {

constexpr wchar_t kRunId[] = L"0123456789abcdef0123456789abcdef";

enum class Damage { kNone, kRemove, kFlip };

struct ModeCase {
  std::vector<std::wstring> arguments;
  TokenKind token;
  Damage damage;
  std::uint16_t resource;
  std::uint32_t offset;
  BoxScript boxes;  // none: no window at all
  std::uint32_t exit_code;
};

// The rows started with `token`, so each token's rows are a test of their own.
void RunModeRows(TokenKind token) {
  const auto full = TokenKind::kFull;
  const auto limited = TokenKind::kLimited;
  const std::vector<std::wstring> verify = {L"--verify-payload"};
  const std::vector<std::wstring> elevated = {L"--portable-elevated"};
  const std::vector<std::wstring> cleanup_elevated = {L"--cleanup-elevated", kRunId};
  const std::vector<std::wstring> cleanup = {L"--cleanup", kRunId};
  const auto error = [](const wchar_t* sentence, DWORD code) {
    return BoxScript().ExpectOk(BoxIcon::kError, FailureBoxText(sentence, code));
  };
  const BoxScript approval = error(message::kAdministratorApprovalRequired, 5);
  const BoxScript declined =
      BoxScript().ExpectYesNo(BoxIcon::kInformation, message::kCleanupConfirmation, IDNO);
  // The payload as built; the Host and the last file removed; the first and a last byte
  // changed; damage met at a normal start; a missing run id; the elevated
  // switches without rights; the cleanup confirmation answered No, with either token. With
  // rights, the deployment of this build stops at Program Files under Wine, whose owner Wine
  // reports as the user (docs/emulated-file-security.md; the emulated build runs the whole main
  // job); on Windows it would deploy and run the Host, which is not a row of this table.
  const ModeCase cases[] = {
    {verify, full, Damage::kNone, 0, 0, {}, 0},
    {verify, full, Damage::kRemove, 101, 0, {}, 1812},
    {verify, full, Damage::kRemove, 108, 0, {}, 1812},
    {verify, full, Damage::kFlip, 101, 0, {}, 13},
    {verify, full, Damage::kFlip, 107, kLastByte, {}, 13},
    {{}, full, Damage::kFlip, 104, 10, error(message::kVersionMismatch, 13), 13},
    {{L"--cleanup"}, full, Damage::kNone, 0, 0, {}, 87},
    {elevated, limited, Damage::kNone, 0, 0, approval, 5},
    {cleanup_elevated, limited, Damage::kNone, 0, 0, approval, 5},
    {cleanup, limited, Damage::kNone, 0, 0, declined, 1223},
    {cleanup, full, Damage::kNone, 0, 0, declined, 1223},
#if !defined(VEXO_WINDOWS_RUNNER)
    {elevated, full, Damage::kNone, 0, 0, error(message::kFolderSecurityUnsafe, 5), 5},
#endif
  };
  for (const ModeCase& c : cases) {
    if (c.token != token) {
      continue;
    }
    SCOPED_TRACE(testing::PrintToString(c.arguments) + " resource " + std::to_string(c.resource));
    const LauncherCopy launcher(L"mode");
    if (c.damage == Damage::kRemove) {
      RemoveResource(launcher.path(), RT_RCDATA, c.resource);
    } else if (c.damage == Damage::kFlip) {
      FlipResourceByte(launcher.path(), c.resource, c.offset);
    }
    const ScriptedRun run = launcher.Run(c.arguments, c.boxes, c.token);
    EXPECT_TRUE(BoxesAsScripted(run));
    EXPECT_EQ(run.result.exit_code, c.exit_code);
  }
}

TEST(LauncherModesTest, OneRowPerOutcomeWithTheFullToken) {
  RunModeRows(TokenKind::kFull);
}

TEST(LauncherModesTest, OneRowPerOutcomeWithTheLimitedToken) {
  if (!LimitedTokenExists())
    GTEST_SKIP() << kNoLimitedToken;
  RunModeRows(TokenKind::kLimited);
}

// The one test of the bench itself: a box that differs from its script is reported, so a
// passing script means something.
TEST(BoxReaderTest, BoxOtherThanScriptedIsReported) {
  if (!LimitedTokenExists())
    GTEST_SKIP() << kNoLimitedToken;
  const LauncherCopy launcher(L"reader");
  const ScriptedRun run = launcher.Run(
      {L"--portable-elevated"},
      BoxScript().ExpectOk(BoxIcon::kInformation, message::kAdministratorApprovalRequired),
      TokenKind::kLimited);
  ASSERT_EQ(run.violations.size(), 1u);
  EXPECT_NE(run.violations[0].find("box 1: icon=error buttons=ok text=\""), std::string::npos)
      << run.violations[0];
  EXPECT_NE(run.violations[0].find("expected icon=information"), std::string::npos);
  EXPECT_EQ(run.result.exit_code, 5u);
}

std::wstring LockName(SessionLockKind kind) {
  DWORD session_id = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session_id);
  return SessionLockName(session_id, kind);
}

// Whether the session lock exists, as any other process of the session would see it.
bool SessionLockHeld(SessionLockKind kind) {
  return UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, LockName(kind).c_str())).valid();
}

// What another process was started with, read from its memory: its image, its current folder
// at the start (with the trailing separator), then its arguments after the program. The current
// folder is the UNICODE_STRING after the five console and standard handle fields that
// winternl.h leaves reserved.
std::vector<std::wstring> ReadStartParameters(std::uint32_t process_id) {
  using Query = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  const UniqueHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
  PROCESS_BASIC_INFORMATION basic{};
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS parameters{};
  const bool read =
      query(process.get(), ProcessBasicInformation, &basic, sizeof basic, nullptr) == 0 &&
      ::ReadProcessMemory(process.get(), basic.PebBaseAddress, &peb, sizeof peb, nullptr) &&
      ::ReadProcessMemory(process.get(), peb.ProcessParameters, &parameters, sizeof parameters,
                          nullptr);
  const auto text = [&](const UNICODE_STRING& in) {
    std::wstring out(read ? in.Length / sizeof(wchar_t) : 0, L'\0');
    ::ReadProcessMemory(process.get(), in.Buffer, out.data(), out.size() * 2, nullptr);
    return out;
  };
  UNICODE_STRING folder{};
  std::memcpy(&folder, &parameters.Reserved2[5], sizeof folder);
  int count = 0;
  const UniqueArgv argv(::CommandLineToArgvW(text(parameters.CommandLine).c_str(), &count));
  std::vector<std::wstring> started{text(parameters.ImagePathName), text(folder)};
  started.insert(started.end(), argv.get() + std::min(count, 1), argv.get() + count);
  return started;
}

// A normal start meets a session lock it cannot take with a message: the keeper lock an
// elevated instance holds says it runs already, and the launcher lock's name taken by another
// kind of object is a state it cannot know. (Launchers started at once, and a running Host,
// which the start brings forward, are met in the main job.)
TEST(NormalStartTest, HeldOrSquattedLockIsMetWithAMessage) {
  const struct {
    SessionLockKind kind;
    bool squatted;  // an event of the lock's name, else a mutex
    BoxIcon icon;
    const wchar_t* sentence;
    DWORD code;
  } cases[] = {
      {SessionLockKind::kKeeper, false, BoxIcon::kInformation, message::kAlreadyRunning, 183},
      {SessionLockKind::kLauncher, true, BoxIcon::kError, message::kDuplicateStateUnknown,
       ERROR_INVALID_HANDLE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const std::wstring name = LockName(c.kind);
    const UniqueHandle other(c.squatted ? ::CreateEventW(nullptr, TRUE, FALSE, name.c_str())
                                        : ::CreateMutexW(nullptr, FALSE, name.c_str()));
    const ScriptedRun run =
        LauncherCopy(L"normal-start")
            .Run({}, BoxScript().ExpectOk(c.icon, FailureBoxText(c.sentence, c.code)));
    EXPECT_TRUE(BoxesAsScripted(run));
    EXPECT_EQ(run.result.exit_code, c.code);
  }
}

// Session 0 serves services, never a customer: a launcher started there refuses before it takes
// a lock, with its box and 5. The row starts itself again as LocalSystem through the Task
// Scheduler, which runs it in session 0; there it starts the launcher and answers its box on
// that session's desktop, which no other session reaches, and its report comes back as a file.
TEST(SessionZeroStartTest, LauncherRefusesWithTheSessionMessage) {
#if !defined(VEXO_WINDOWS_RUNNER)
  GTEST_SKIP() << "Wine runs every process in session 1: a row of the Windows runner";
#endif
  DWORD session_id = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session_id));
  if (session_id == 0) {
    const BoxScript refusal =
        BoxScript().ExpectOk(BoxIcon::kError, FailureBoxText(message::kSessionUnknown, 5));
    const ScriptedRun run = LauncherCopy(L"session-0").Run({}, refusal);
    EXPECT_TRUE(BoxesAsScripted(run));
    EXPECT_EQ(run.result.exit_code, 5u);
    return;
  }
  const ScratchFolder scratch(L"session-0-report");
  const std::wstring report = scratch.Join(L"report.xml");
  const std::string text = RunInServicesSession(
      CurrentProgramFolder() + L"\\e2e_launcher_test.exe",
      {L"--gtest_filter=SessionZeroStartTest.*", L"--gtest_output=xml:" + report}, report,
      "</testsuites>", 2 * kLauncherTimeoutMs);
  EXPECT_NE(text.find("tests=\"1\" failures=\"0\""), std::string::npos) << text;
}

// An unelevated start re-starts its own file through "runas" with exactly the switch line of
// its mode, in the launcher's own folder whatever folder it was started from, and waits holding
// the launcher lock while the instance runs; the parent ends with the instance's code, showing
// nothing itself. Under Wine the instance has no rights: it refuses with its box and 5 before it
// takes the keeper lock. Where "runas" elevates without a prompt (a UAC runner), the instance
// runs its mode, which ends with a box too: the Host's preparation fails (its knob), the unknown
// run is not found. (Other launchers meeting a held lock say 183: NormalStartTest and the main
// job.)
TEST(RelaunchThroughRunasTest, InstanceGetsTheModesSwitchesAndItsCodeComesBack) {
  if (!LimitedTokenExists())
    GTEST_SKIP() << kNoLimitedToken;
  const HostKnobs knobs(L"exit=2");
  const std::pair<std::vector<std::wstring>, std::vector<std::wstring>> cases[] = {
      {{}, {L"--portable-elevated"}},
      {{L"--cleanup", kRunId}, {L"--cleanup-elevated", kRunId}},
  };
  const std::wstring approval_required = FailureBoxText(message::kAdministratorApprovalRequired, 5);
  for (const auto& [arguments, instance_arguments] : cases) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    const LauncherCopy launcher(L"runas");
    std::uint32_t parent_id = 0;
    std::vector<std::string> unexpected;
    std::vector<std::wstring> instance_started;
    bool locks_as_expected = false;
    UniqueHandle instance;
    BoxResponder responder([&](const ObservedBox& box) {
      if (box.text == message::kCleanupConfirmation && box.process_id == parent_id) {
        return IDYES;
      }
      if (box.process_id != parent_id && !instance &&
          (kOnWindows || (box.text == approval_required && box.icon == BoxIcon::kError))) {
        instance.reset(
            ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, box.process_id));
        instance_started = ReadStartParameters(box.process_id);
        locks_as_expected = SessionLockHeld(SessionLockKind::kLauncher) &&
                            (kOnWindows || !SessionLockHeld(SessionLockKind::kKeeper));
        return IDOK;
      }
      unexpected.push_back(DescribeBox(box));
      return IDCANCEL;
    });
    RunningProgram parent = StartProgram(
        {launcher.path(), arguments, TokenKind::kLimited, ParentPath(launcher.folder().path())});
    parent_id = parent.id();
    const std::uint32_t parent_code = responder.WaitForExit(parent, kLauncherTimeoutMs).exit_code;
    ::Sleep(300);  // nothing may follow the parent's end
    responder.Poll();
    DWORD instance_code = 0;
    ASSERT_TRUE(instance && ::GetExitCodeProcess(instance.get(), &instance_code));
    EXPECT_EQ(parent_code, instance_code);
    EXPECT_TRUE(unexpected.empty()) << testing::PrintToString(unexpected);
    // The same image, in the launcher's folder, with the switch line of its mode.
    std::vector<std::wstring> expected{launcher.path(), launcher.folder().path() + L"\\"};
    expected.insert(expected.end(), instance_arguments.begin(), instance_arguments.end());
    EXPECT_EQ(instance_started, expected);
    EXPECT_TRUE(locks_as_expected);
    EXPECT_FALSE(SessionLockHeld(SessionLockKind::kLauncher));
  }
}

}  // namespace
}  // namespace vexo::test
