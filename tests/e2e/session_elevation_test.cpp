// The real launcher under Wine: one launcher per session, a running Host at a normal start,
// the cleanup confirmation, and the hand-over to the instance started through "runas".
//
// Wine starts a "runas" program with the caller's own token, so from a limited start the
// re-started instance has no rights either: it shows its own refusal and ends with 5, which
// the waiting parent must pass on unchanged and silently. docs/elevation-under-wine.md says
// what Wine cannot show and how it is covered instead.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "common/path.h"
#include "common/product.h"
#include "launcher/messages.h"
#include "launcher/session_lock_name.h"
#include "tests/e2e/launcher_test_support.h"

namespace vexo::test {
namespace {

constexpr wchar_t kRunId[] = L"0123456789abcdef0123456789abcdef";

// Whether the session lock exists, as any other process of the session would see it.
bool SessionLockHeld(SessionLockKind kind) {
  DWORD session_id = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session_id);
  return UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, SessionLockName(session_id, kind).c_str()))
      .valid();
}

UniqueHandle HoldSessionLock(SessionLockKind kind) {
  DWORD session_id = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session_id);
  return UniqueHandle(::CreateMutexW(nullptr, FALSE, SessionLockName(session_id, kind).c_str()));
}

// The documented x64 layout of a process's parameters up to its command line (winternl.h
// leaves the first fields reserved).
struct ProcessParameters {
  BYTE header[16];
  PVOID console_and_standard_handles[5];
  UNICODE_STRING current_directory;
  HANDLE current_directory_handle;
  UNICODE_STRING dll_path;
  UNICODE_STRING image_path;
  UNICODE_STRING command_line;
};

struct StartParameters {
  std::wstring directory;               // current folder at the start, with its trailing separator
  std::vector<std::wstring> arguments;  // after the program
};

// What another process was started with, read from its memory.
StartParameters ReadStartParameters(std::uint32_t process_id) {
  using Query = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  const UniqueHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
  PROCESS_BASIC_INFORMATION basic{};
  PEB peb{};
  ProcessParameters parameters{};
  if (query == nullptr || !process ||
      query(process.get(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 ||
      !::ReadProcessMemory(process.get(), basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
      !::ReadProcessMemory(process.get(), peb.ProcessParameters, &parameters, sizeof parameters,
                           nullptr)) {
    return {L"<unreadable>", {}};
  }
  const auto read = [&](const UNICODE_STRING& text) {
    std::wstring out(text.Length / sizeof(wchar_t), L'\0');
    ::ReadProcessMemory(process.get(), text.Buffer, out.data(), text.Length, nullptr);
    return out;
  };
  int count = 0;
  const UniqueArgv argv(::CommandLineToArgvW(read(parameters.command_line).c_str(), &count));
  return {read(parameters.current_directory),
          argv ? std::vector<std::wstring>(argv.get() + 1, argv.get() + count)
               : std::vector<std::wstring>{}};
}

bool RunsImage(std::uint32_t process_id, const std::wstring& path) {
  const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  wchar_t image[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  return process && ::QueryFullProcessImageNameW(process.get(), 0, image, &size) &&
         ::CompareStringOrdinal(image, -1, path.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// A minimised window of the Host's class, served by a thread of the test.
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
  HWND window() const { return window_; }
  bool activated() const { return activated_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<HostWindowThread*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && msg == WM_ACTIVATE && LOWORD(wparam) != WA_INACTIVE) {
      self->activated_ = true;
    } else if (msg == WM_DESTROY) {
      ::PostQuitMessage(0);
    }
    return ::DefWindowProcW(window, msg, wparam, lparam);
  }

  void Run() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &HostWindowThread::Procedure;
    window_class.lpszClassName = product::kHostWindowClass;
    ::RegisterClassW(&window_class);
    window_ = ::CreateWindowExW(0, product::kHostWindowClass, L"Host", WS_OVERLAPPEDWINDOW, 0, 0,
                                320, 240, nullptr, nullptr, nullptr, nullptr);
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

// Launchers of one session start at once with the customer's limited token. The one that wins
// the launcher lock re-starts itself and waits; its instance's refusal is held open until every
// other launcher has ended, so the winner must hold the lock the whole time.
TEST(SimultaneousLaunchersTest, ExactlyOneProceedsTheOthersSay183) {
  constexpr int kCount = 3;
  const LauncherCopy launcher(L"simultaneous");
  const std::wstring already_running = FailureBoxText(message::kAlreadyRunning, 183);
  const std::wstring approval_required = FailureBoxText(message::kAdministratorApprovalRequired, 5);
  std::vector<RunningProgram> launchers;
  std::set<std::uint32_t> launcher_ids;
  std::set<std::uint32_t> refused;
  std::vector<std::string> unexpected;
  bool instance_seen = false;
  BoxResponder responder([&](const ObservedBox& box) {
    const bool from_launcher = launcher_ids.count(box.process_id) != 0;
    if (box.text == already_running && box.icon == BoxIcon::kInformation && from_launcher) {
      refused.insert(box.process_id);
      return IDOK;
    }
    if (box.text == approval_required && box.icon == BoxIcon::kError && !from_launcher) {
      instance_seen = true;
      EXPECT_TRUE(SessionLockHeld(SessionLockKind::kLauncher));
      const auto ended = std::count_if(launchers.begin(), launchers.end(),
                                       [](const RunningProgram& p) { return p.HasEnded(); });
      return ended >= kCount - 1 ? IDOK : kAnswerLater;
    }
    unexpected.push_back(DescribeBox(box));
    return IDCANCEL;
  });
  for (int i = 0; i < kCount; ++i) {
    launchers.push_back(responder.Start(launcher.Start({}, TokenKind::kLimited)));
    launcher_ids.insert(launchers.back().id());
  }
  std::map<std::uint32_t, int> exit_codes;
  for (RunningProgram& program : launchers) {
    ++exit_codes[responder.WaitForExit(program, kLauncherTimeoutMs).exit_code];
  }
  responder.WatchFor(300);  // answers whatever a failing run left up
  EXPECT_TRUE(unexpected.empty()) << testing::PrintToString(unexpected);
  EXPECT_TRUE(instance_seen);
  EXPECT_EQ(exit_codes[5], 1);
  EXPECT_EQ(exit_codes[183], kCount - 1);
  EXPECT_EQ(refused.size(), static_cast<std::size_t>(kCount - 1));
  EXPECT_FALSE(SessionLockHeld(SessionLockKind::kLauncher));
}

// A normal start meets a running Host or a lock another process holds with a message; a Host
// window is restored and brought forward before that message shows.
TEST(NormalStartTest, RunningHostOrHeldLockIsMetWithAMessage) {
  const struct {
    const char* name;
    bool host_window;
    std::optional<SessionLockKind> held;
    const wchar_t* sentence;
  } cases[] = {
      {"Host running", true, std::nullopt, message::kCloseExistingHostFirst},
      {"Host running, launcher lock held", true, SessionLockKind::kLauncher,
       message::kAlreadyRunning},
      {"keeper lock held", false, SessionLockKind::kKeeper, message::kAlreadyRunning},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<HostWindowThread> host;
    if (c.host_window) {
      host.emplace();
    }
    const UniqueHandle other = c.held ? HoldSessionLock(*c.held) : UniqueHandle();
    const LauncherCopy launcher(L"normal-start");
    std::vector<std::string> boxes;
    bool host_forward_at_box = false;
    BoxResponder responder([&](const ObservedBox& box) {
      boxes.push_back(DescribeBox(box));
      host_forward_at_box = host && !::IsIconic(host->window()) && host->activated();
      return IDOK;
    });
    RunningProgram program = responder.Start(launcher.Start({}, TokenKind::kFull));
    EXPECT_EQ(responder.WaitForExit(program, kLauncherTimeoutMs).exit_code, 183u);
    const ObservedBox expected{
        nullptr, 0, BoxIcon::kInformation, FailureBoxText(c.sentence, 183), {IDOK}};
    EXPECT_EQ(boxes, std::vector<std::string>{DescribeBox(expected)});
    EXPECT_EQ(host_forward_at_box, c.host_window);
  }
}

TEST(CleanupConfirmationTest, AnsweredNoEndsWith1223AndNothingElse) {
  for (TokenKind token : {TokenKind::kLimited, TokenKind::kFull}) {
    const LauncherCopy launcher(L"cleanup-no");
    const ScriptedRun run = launcher.Run(
        {L"--cleanup", kRunId},
        BoxScript().ExpectYesNo(BoxIcon::kInformation, message::kCleanupConfirmation, IDNO), token);
    EXPECT_TRUE(BoxesAsScripted(run));
    EXPECT_EQ(run.result.exit_code, 1223u);
    EXPECT_FALSE(SessionLockHeld(SessionLockKind::kLauncher));
  }
}

// An unelevated start re-starts the launcher through "runas" with exactly the switch line of
// its mode, in the launcher's own folder whatever folder it was started from, and waits,
// holding the launcher lock; the instance refuses for lack of rights and
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
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const LauncherCopy launcher(L"runas");
    std::vector<std::string> boxes;
    std::uint32_t launcher_id = 0;
    std::optional<std::uint32_t> instance_id;
    StartParameters instance_start;
    bool image_and_locks_as_expected = false;
    BoxResponder responder([&](const ObservedBox& box) {
      boxes.push_back(DescribeBox(box));
      if (box.text == message::kCleanupConfirmation && box.process_id == launcher_id) {
        return IDYES;
      }
      if (box.text == approval_required && box.icon == BoxIcon::kError && !instance_id) {
        instance_id = box.process_id;
        instance_start = ReadStartParameters(box.process_id);
        // The same launcher file, the parent holding the launcher lock, nobody the keeper lock.
        image_and_locks_as_expected = RunsImage(box.process_id, launcher.path()) &&
                                      SessionLockHeld(SessionLockKind::kLauncher) &&
                                      !SessionLockHeld(SessionLockKind::kKeeper);
      }
      return IDOK;
    });
    RunningProgram program = responder.Start(
        {launcher.path(), c.arguments, TokenKind::kLimited, ParentPath(launcher.folder().path())});
    launcher_id = program.id();
    const ProgramResult result = responder.WaitForExit(program, kLauncherTimeoutMs);
    responder.WatchFor(300);  // nothing may follow the parent's end

    EXPECT_EQ(result.exit_code, 5u);
    ASSERT_TRUE(instance_id.has_value()) << testing::PrintToString(boxes);
    EXPECT_NE(*instance_id, launcher_id);
    EXPECT_EQ(instance_start.arguments, c.instance_arguments);
    EXPECT_EQ(::CompareStringOrdinal(instance_start.directory.c_str(), -1,
                                     (launcher.folder().path() + L"\\").c_str(), -1, TRUE),
              CSTR_EQUAL)
        << testing::PrintToString(instance_start.directory);
    EXPECT_TRUE(image_and_locks_as_expected);
    // The confirmation (cleanup only) and the instance's refusal; none from the parent after.
    EXPECT_EQ(boxes.size(), c.arguments.empty() ? 1u : 2u) << testing::PrintToString(boxes);
    EXPECT_FALSE(SessionLockHeld(SessionLockKind::kLauncher));
  }
}

}  // namespace
}  // namespace vexo::test
