// The real launcher under Wine: one launcher per session, the Host window at a normal start,
// the cleanup confirmation, and the hand-over to the instance started through "runas".
//
// Wine starts a "runas" program with the caller's own token, so from a limited start the
// re-started instance has no rights either: it shows its own refusal and ends with 5, which
// the waiting parent must pass on unchanged and silently. docs/elevation-under-wine.md says
// what Wine cannot show and how it is covered instead.
#include <gtest/gtest.h>

#include "common/handles.h"

#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/product.h"
#include "launcher/messages.h"
#include "launcher/session_lock_name.h"
#include "tests/e2e/launcher_test_support.h"

namespace vexo::test {
namespace {

constexpr wchar_t kRunId[] = L"0123456789abcdef0123456789abcdef";
constexpr std::uint32_t kTimeoutMs = 60000;

std::uint32_t CurrentSessionId() {
  DWORD session_id = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session_id);
  return session_id;
}

// Whether the session lock exists, as any other process of the session would see it.
bool SessionLockHeld(SessionLockKind keeper) {
  UniqueHandle probe(
      ::OpenMutexW(SYNCHRONIZE, FALSE, SessionLockName(CurrentSessionId(), keeper).c_str()));
  return probe.valid();
}

// The arguments another process was started with (after its program), read from its
// process parameters.
std::vector<std::wstring> ProcessArguments(std::uint32_t process_id) {
  using QueryInformation = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryInformation>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  UniqueHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
  PROCESS_BASIC_INFORMATION basic{};
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS parameters{};
  if (query == nullptr || !process ||
      query(process.get(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0 ||
      !::ReadProcessMemory(process.get(), basic.PebBaseAddress, &peb, sizeof(peb), nullptr) ||
      !::ReadProcessMemory(process.get(), peb.ProcessParameters, &parameters, sizeof(parameters),
                           nullptr)) {
    ADD_FAILURE() << "cannot read the parameters of process " << process_id;
    return {};
  }
  std::wstring command_line(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
  if (!::ReadProcessMemory(process.get(), parameters.CommandLine.Buffer, command_line.data(),
                           parameters.CommandLine.Length, nullptr)) {
    ADD_FAILURE() << "cannot read the command line of process " << process_id;
    return {};
  }
  int count = 0;
  const UniqueArgv argv(::CommandLineToArgvW(command_line.c_str(), &count));
  std::vector<std::wstring> arguments;
  for (int i = 1; argv && i < count; ++i) {
    arguments.emplace_back(argv.get()[i]);
  }
  return arguments;
}

// Parent process id of every process of the session, by process id.
std::map<std::uint32_t, std::uint32_t> ParentProcessIds() {
  std::map<std::uint32_t, std::uint32_t> parents;
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    parents[entry.th32ProcessID] = entry.th32ParentProcessID;
  }
  return parents;
}

std::wstring ProcessImage(std::uint32_t process_id) {
  UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  wchar_t image[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!process || !::QueryFullProcessImageNameW(process.get(), 0, image, &size)) {
    return std::wstring();
  }
  return std::wstring(image, size);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// No process of the session runs the launcher file at `path`.
bool NoLauncherRuns(const std::wstring& path) {
  for (const auto& [process_id, parent] : ParentProcessIds()) {
    if (SamePath(ProcessImage(process_id), path)) {
      return false;
    }
  }
  return true;
}

ProgramStart LauncherStart(const LauncherCopy& launcher,
                           std::vector<std::wstring> arguments,
                           TokenKind token) {
  return ProgramStart{launcher.path(), std::move(arguments), token, launcher.folder().path()};
}

// What a box of the re-started instance showed about the chain that led to it.
struct ElevatedInstanceSeen {
  bool seen = false;
  std::uint32_t process_id = 0;
  std::uint32_t parent_id = 0;
  std::wstring image;
  std::vector<std::wstring> arguments;
  bool launcher_lock_held = false;
  bool keeper_lock_held = false;
};

// Answers every product box still up and waits a little for them to go.
void DismissRemainingBoxes() {
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  for (;;) {
    const std::vector<HWND> boxes = FindProductBoxes();
    if (boxes.empty() || ::GetTickCount64() >= deadline) {
      return;
    }
    for (HWND window : boxes) {
      if (const std::optional<ObservedBox> box = ReadBox(window)) {
        DismissBox(*box);
      }
    }
    ::Sleep(kBoxPollIntervalMs);
  }
}

// ---- One launcher per session -------------------------------------------------------------

class SimultaneousLaunchersTest : public ::testing::TestWithParam<int> {};

// N launchers of one session start at once with the customer's limited token. The one that
// wins the launcher lock re-starts itself and waits; its instance's refusal box is held open
// until every other launcher has ended, so the winner holds the lock the whole time.
TEST_P(SimultaneousLaunchersTest, ExactlyOneProceedsTheOthersSay183) {
  const int count = GetParam();
  const LauncherCopy launcher(L"simultaneous");
  const BoxHook hook;
  std::vector<RunningProgram> launchers;
  std::set<std::uint32_t> launcher_ids;
  for (int i = 0; i < count; ++i) {
    launchers.push_back(StartProgram(LauncherStart(launcher, {}, TokenKind::kLimited)));
    launcher_ids.insert(launchers.back().id());
  }

  const std::wstring already_running = FailureBoxText(message::kAlreadyRunning, 183);
  const std::wstring approval_required = FailureBoxText(message::kAdministratorApprovalRequired, 5);
  std::set<HWND> answered;
  std::set<std::uint32_t> refused_launchers;
  std::vector<std::string> unexpected;
  std::optional<ObservedBox> held_approval;
  const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
  auto others_ended = [&] {
    return std::count_if(launchers.begin(), launchers.end(),
                         [](const RunningProgram& p) { return p.HasEnded(); }) >= count - 1;
  };
  while (::GetTickCount64() < deadline &&
         !std::all_of(launchers.begin(), launchers.end(),
                      [](const RunningProgram& p) { return p.HasEnded(); })) {
    for (HWND window : FindProductBoxes()) {
      if (answered.count(window) != 0 || !IsBoxReady(window)) {
        continue;
      }
      const std::optional<ObservedBox> box = ReadBox(window);
      if (!box) {
        continue;
      }
      if (box->text == already_running && box->icon == BoxIcon::kInformation &&
          launcher_ids.count(box->process_id) != 0) {
        refused_launchers.insert(box->process_id);
        answered.insert(window);
        PressBoxButton(*box, IDOK);
      } else if (box->text == approval_required && box->icon == BoxIcon::kError &&
                 launcher_ids.count(box->process_id) == 0) {
        if (!held_approval) {
          held_approval = box;
          EXPECT_TRUE(SessionLockHeld(SessionLockKind::kLauncher));
        }
        if (others_ended()) {
          EXPECT_TRUE(SessionLockHeld(SessionLockKind::kLauncher));
          answered.insert(window);
          PressBoxButton(*box, IDOK);
        }
      } else {
        unexpected.push_back(DescribeBox(*box));
        answered.insert(window);
        DismissBox(*box);
      }
    }
    ::Sleep(kBoxPollIntervalMs);
  }
  // Whatever is still up (the held box when the deadline passed) is answered, so that no
  // elevated instance outlives the test holding the output pipe of the test run.
  DismissRemainingBoxes();

  std::map<std::uint32_t, int> exit_codes;
  for (RunningProgram& program : launchers) {
    const ProgramResult result = program.WaitOrTerminate(1000);
    EXPECT_FALSE(result.timed_out);
    ++exit_codes[result.exit_code];
  }
  EXPECT_TRUE(unexpected.empty()) << testing::PrintToString(unexpected);
  EXPECT_TRUE(held_approval.has_value());
  EXPECT_EQ(exit_codes[5], 1);
  EXPECT_EQ(exit_codes[183], count - 1);
  EXPECT_EQ(refused_launchers.size(), static_cast<std::size_t>(count - 1));
  EXPECT_FALSE(SessionLockHeld(SessionLockKind::kLauncher));
}

INSTANTIATE_TEST_SUITE_P(Counts, SimultaneousLaunchersTest, ::testing::Values(2, 10));

// ---- A Host window at a normal start ------------------------------------------------------

// A minimised window of the Host's class, owned by a thread of the test that serves it.
class HostWindowThread {
 public:
  HostWindowThread() : thread_([this] { Run(); }) {
    while (!ready_) {
      ::Sleep(5);
    }
  }
  ~HostWindowThread() {
    ::PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
  }
  HostWindowThread(const HostWindowThread&) = delete;
  HostWindowThread& operator=(const HostWindowThread&) = delete;

  HWND window() const { return window_; }
  bool activated() const { return activated_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<HostWindowThread*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && msg == WM_ACTIVATE && LOWORD(wparam) != WA_INACTIVE) {
      self->activated_ = true;
    }
    if (msg == WM_DESTROY) {
      ::PostQuitMessage(0);
    }
    return ::DefWindowProcW(window, msg, wparam, lparam);
  }

  void Run() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &HostWindowThread::Procedure;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = product::kHostWindowClass;
    ::RegisterClassW(&window_class);
    window_ = ::CreateWindowExW(0, product::kHostWindowClass, L"Host", WS_OVERLAPPEDWINDOW, 0, 0,
                                320, 240, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::ShowWindow(window_, SW_SHOWMINNOACTIVE);
    activated_ = false;
    ready_ = true;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      ::DispatchMessageW(&msg);
    }
  }

  std::atomic<bool> ready_{false};
  std::atomic<bool> activated_{false};
  HWND window_ = nullptr;
  std::thread thread_;
};

TEST(HostWindowAtStartTest, NormalStartRestoresTheHostAndRefuses) {
  HostWindowThread host;
  ASSERT_NE(host.window(), nullptr);
  ASSERT_TRUE(::IsIconic(host.window()));
  const LauncherCopy launcher(L"host-window");

  bool restored_when_box_came = false;
  bool foreground_when_box_came = false;
  BoxScript script;
  script.ExpectOk(BoxIcon::kInformation, FailureBoxText(message::kCloseExistingHostFirst, 183));
  ScriptedRun run;
  {
    BoxWatcher watcher(std::move(script));
    RunningProgram program = watcher.Start(LauncherStart(launcher, {}, TokenKind::kFull));
    // The Host is dealt with before the box: look as soon as the box is up.
    const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
    while (FindProductBoxes().empty() && !program.HasEnded() && ::GetTickCount64() < deadline) {
      ::Sleep(kBoxPollIntervalMs);
    }
    restored_when_box_came = !::IsIconic(host.window());
    foreground_when_box_came = host.activated();
    run.result = watcher.WaitForExit(program, kTimeoutMs);
    run.violations = watcher.Finish();
  }
  EXPECT_TRUE(BoxesAsScripted(run));
  EXPECT_EQ(run.result.exit_code, 183u);
  EXPECT_TRUE(restored_when_box_came);
  EXPECT_TRUE(foreground_when_box_came);
  EXPECT_FALSE(::IsIconic(host.window()));
}

// When another launcher holds the lock, the lock's own message comes instead, and the Host
// is still brought forward.
TEST(HostWindowAtStartTest, HeldLauncherLockGivesTheLockMessage) {
  HostWindowThread host;
  ASSERT_NE(host.window(), nullptr);
  UniqueHandle other_launcher(::CreateMutexW(
      nullptr, FALSE, SessionLockName(CurrentSessionId(), SessionLockKind::kLauncher).c_str()));
  ASSERT_TRUE(other_launcher);
  const LauncherCopy launcher(L"host-window-locked");
  BoxScript script;
  script.ExpectOk(BoxIcon::kInformation, FailureBoxText(message::kAlreadyRunning, 183));
  const ScriptedRun run = launcher.Run({}, std::move(script));
  EXPECT_TRUE(BoxesAsScripted(run));
  EXPECT_EQ(run.result.exit_code, 183u);
  EXPECT_FALSE(::IsIconic(host.window()));
  EXPECT_TRUE(host.activated());
}

// ---- The locks of an elevated start -------------------------------------------------------

// An elevated normal start takes the launcher lock and then the keeper lock: whichever of the
// two another process holds, the start meets it with the lock message.
TEST(ElevatedStartLocksTest, EitherLockHeldElsewhereRefusesTheStart) {
  for (SessionLockKind keeper : {SessionLockKind::kLauncher, SessionLockKind::kKeeper}) {
    UniqueHandle other(
        ::CreateMutexW(nullptr, FALSE, SessionLockName(CurrentSessionId(), keeper).c_str()));
    ASSERT_TRUE(other);
    const LauncherCopy launcher(L"locks");
    BoxScript script;
    script.ExpectOk(BoxIcon::kInformation, FailureBoxText(message::kAlreadyRunning, 183));
    const ScriptedRun run = launcher.Run({}, std::move(script));
    EXPECT_TRUE(BoxesAsScripted(run)) << "lock " << static_cast<int>(keeper);
    EXPECT_EQ(run.result.exit_code, 183u) << "lock " << static_cast<int>(keeper);
  }
}

// ---- The cleanup confirmation and the re-start through "runas" ---------------------------

TEST(CleanupConfirmationTest, AnsweredNoEndsWith1223AndNothingElse) {
  for (TokenKind token : {TokenKind::kLimited, TokenKind::kFull}) {
    const LauncherCopy launcher(L"cleanup-no");
    BoxScript script;
    script.ExpectYesNo(BoxIcon::kInformation, message::kCleanupConfirmation, IDNO);
    const ScriptedRun run = launcher.Run({L"--cleanup", kRunId}, std::move(script), token);
    EXPECT_TRUE(BoxesAsScripted(run));
    EXPECT_EQ(run.result.exit_code, 1223u);
    EXPECT_TRUE(NoLauncherRuns(launcher.path()));
    EXPECT_FALSE(SessionLockHeld(SessionLockKind::kLauncher));
  }
}

// An unelevated start re-starts the launcher through "runas" with exactly the switch line of
// its mode and waits, holding the launcher lock; the instance refuses for lack of rights and
// the parent ends with the instance's code, showing nothing itself.
TEST(RelaunchThroughRunasTest, InstanceGetsTheSwitchLineAndItsCodeComesBack) {
  const struct {
    std::vector<std::wstring> arguments;
    std::vector<std::wstring> instance_arguments;
  } cases[] = {
      {{}, {L"--portable-elevated"}},
      {{L"--cleanup", kRunId}, {L"--cleanup-elevated", kRunId}},
  };
  const std::wstring approval_required = FailureBoxText(message::kAdministratorApprovalRequired, 5);
  for (const auto& c : cases) {
    const LauncherCopy launcher(L"runas");
    ElevatedInstanceSeen instance;
    std::vector<std::string> boxes;
    std::uint32_t launcher_id = 0;
    BoxResponder responder([&](const ObservedBox& box) {
      boxes.push_back(DescribeBox(box));
      if (box.text == message::kCleanupConfirmation && box.process_id == launcher_id) {
        return IDYES;
      }
      if (box.text == approval_required && box.icon == BoxIcon::kError && !instance.seen) {
        instance.seen = true;
        instance.process_id = box.process_id;
        instance.parent_id = ParentProcessIds()[box.process_id];
        instance.image = ProcessImage(box.process_id);
        instance.arguments = ProcessArguments(box.process_id);
        instance.launcher_lock_held = SessionLockHeld(SessionLockKind::kLauncher);
        instance.keeper_lock_held = SessionLockHeld(SessionLockKind::kKeeper);
      }
      return IDOK;
    });
    RunningProgram program =
        responder.Start(LauncherStart(launcher, c.arguments, TokenKind::kLimited));
    launcher_id = program.id();
    const ProgramResult result = responder.WaitForExit(program, kTimeoutMs);
    responder.WatchFor(300);  // nothing may follow the parent's end

    const std::string label = testing::PrintToString(c.arguments);
    EXPECT_FALSE(result.timed_out) << label;
    EXPECT_EQ(result.exit_code, 5u) << label;
    ASSERT_TRUE(instance.seen) << label << testing::PrintToString(boxes);
    EXPECT_NE(instance.process_id, launcher_id) << label;
    EXPECT_EQ(instance.parent_id, launcher_id) << label;
    EXPECT_TRUE(SamePath(instance.image, launcher.path())) << label;
    EXPECT_EQ(instance.arguments, c.instance_arguments) << label;
    EXPECT_TRUE(instance.launcher_lock_held) << label;
    EXPECT_FALSE(instance.keeper_lock_held) << label;
    // The confirmation (cleanup only) and the instance's refusal; none from the parent after.
    EXPECT_EQ(boxes.size(), c.arguments.empty() ? 1u : 2u)
        << label << testing::PrintToString(boxes);
    EXPECT_FALSE(SessionLockHeld(SessionLockKind::kLauncher)) << label;
  }
}

}  // namespace
}  // namespace vexo::test
