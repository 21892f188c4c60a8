// The administrator check, the elevated re-start and the pumping wait, on real processes.
#include <gtest/gtest.h>

#include "tests/common/catch_failure.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/path.h"
#include "deploy/messages.h"
#include "launcher/elevation.h"
#include "launcher/messages.h"
#include "system/process_wait.h"
#include "tests/launcher/child_process.h"

namespace vexo {
namespace {

using test::StartChild;

constexpr std::uint32_t kChildNotElevated = 0x100;
constexpr std::uint32_t kChildElevated = 0x101;
constexpr std::uint32_t kChildReported = 0xC0FFEE;
constexpr UINT kProbeMessage = WM_APP + 7;
constexpr LRESULT kProbeAnswer = 0x5EED;

TEST(IsElevatedAdministratorTest, TrueInTheElevatedTestProcess) {
  EXPECT_TRUE(IsElevatedAdministrator());
}

TEST(IsElevatedAdministratorTest, ChildWithOwnTokenIsElevated) {
  test::RunningProgram child = StartChild({L"elevated"});
  EXPECT_EQ(WaitForProcessPumping(child.handle(), kNoTimeLimit, message::kRemoteSupportWait),
            kChildElevated);
}

TEST(IsElevatedAdministratorTest, ChildWithLimitedLinkedTokenIsNotElevated) {
  test::RunningProgram child = StartChild({L"elevated"}, test::TokenKind::kLimited);
  EXPECT_EQ(WaitForProcessPumping(child.handle(), kNoTimeLimit, message::kRemoteSupportWait),
            kChildNotElevated);
}

TEST(WaitForProcessPumpingTest, PassesExitCodesThroughUnchanged) {
  const std::uint32_t codes[] = {0,          1,          5,          183,        259,       1223,
                                 0x7FFFFFFF, 0x80000000, 0xC0000005, 0xFFFFFFFE, 0xFFFFFFFF};
  for (std::uint32_t code : codes) {
    test::RunningProgram child = StartChild({L"exit", DecimalText(code)});
    EXPECT_EQ(WaitForProcessPumping(child.handle(), kNoTimeLimit, message::kRemoteSupportWait),
              code);
  }
}

TEST(WaitForProcessPumpingTest, ChildRunningPastTheLimitTimesOut) {
  test::RunningProgram child = StartChild({L"sleep", L"60000", L"0"});
  const ULONGLONG start = ::GetTickCount64();
  const Failure failure = CatchFailure(
      [&] { WaitForProcessPumping(child.handle(), 1000, message::kRemoteSupportWait); });
  const ULONGLONG waited = ::GetTickCount64() - start;
  EXPECT_EQ(failure.code, error::kTimeout);
  EXPECT_EQ(failure.message, message::kPreparationTimedOut);
  EXPECT_GE(waited, 1000u);
  // The wait never touches the process: it still runs.
  EXPECT_EQ(::WaitForSingleObject(child.handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  child.Terminate();
}

TEST(WaitForProcessPumpingTest, EndedChildIsNeverATimeOut) {
  const std::uint32_t limits[] = {0, 1, 250};
  for (std::uint32_t limit : limits) {
    test::RunningProgram child = StartChild({L"exit", L"7"});
    ASSERT_EQ(::WaitForSingleObject(child.handle(), INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForProcessPumping(child.handle(), limit, message::kRemoteSupportWait), 7u)
        << limit;
  }
}

TEST(WaitForProcessPumpingTest, ChildEndingWithinTheLimitGivesItsCode) {
  test::RunningProgram child = StartChild({L"sleep", L"600", L"42"});
  EXPECT_EQ(WaitForProcessPumping(child.handle(), 20000, message::kRemoteSupportWait), 42u);
}

TEST(WaitForProcessPumpingTest, HandleThatCannotBeWaitedOnFails) {
  const Failure failure =
      CatchFailure([] { WaitForProcessPumping(nullptr, 1000, message::kRemoteSupportWait); });
  EXPECT_EQ(failure.code, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(failure.message, message::kWaitForEndFailed);
}

TEST(WaitForProcessPumpingTest, UnreadableExitCodeFails) {
  // A signalled object that is not a process, and a process handle that may only be waited
  // on: both end the wait, neither gives an exit code.
  UniqueHandle set_event(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  ASSERT_TRUE(set_event);
  test::RunningProgram child = StartChild({L"exit", L"3"});
  ASSERT_EQ(::WaitForSingleObject(child.handle(), INFINITE), WAIT_OBJECT_0);
  UniqueHandle synchronize_only;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), child.handle(), ::GetCurrentProcess(),
                                synchronize_only.put(), SYNCHRONIZE, FALSE, 0));
  const struct {
    HANDLE handle;
    DWORD expected_error;
  } cases[] = {{set_event.get(), ERROR_INVALID_HANDLE},
               {synchronize_only.get(), ERROR_ACCESS_DENIED}};
  for (const auto& c : cases) {
    const Failure failure =
        CatchFailure([&] { WaitForProcessPumping(c.handle, 1000, message::kRemoteSupportWait); });
    EXPECT_EQ(failure.code, c.expected_error);
    EXPECT_EQ(failure.message, message::kRunResultUnknown);
  }
}

// A window of the waiting thread that records what reaches it.
class ProbeWindow {
 public:
  ProbeWindow() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &ProbeWindow::Procedure;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = kClassName;
    ::RegisterClassW(&window_class);
    window_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    received_ = 0;
  }
  ~ProbeWindow() { ::DestroyWindow(window_); }
  ProbeWindow(const ProbeWindow&) = delete;
  ProbeWindow& operator=(const ProbeWindow&) = delete;

  HWND get() const { return window_; }
  static int received() { return received_; }

 private:
  static constexpr wchar_t kClassName[] = L"VexoPumpProbe";
  static inline std::atomic<int> received_{0};
  HWND window_ = nullptr;

  static LRESULT CALLBACK Procedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == kProbeMessage) {
      ++received_;
      return kProbeAnswer;
    }
    return ::DefWindowProcW(window, msg, wparam, lparam);
  }
};

TEST(WaitForProcessPumpingTest, ServesMessagesSentByAnotherProcess) {
  ProbeWindow window;
  ASSERT_NE(window.get(), nullptr);
  // The child blocks in SendMessageW until this thread serves the message, and then exits
  // with the answer: the wait can only end if it dispatches while it waits.
  test::RunningProgram child =
      StartChild({L"send", DecimalText(reinterpret_cast<std::uintptr_t>(window.get())),
                  DecimalText(kProbeMessage)});
  std::uint32_t exit_code = 0;
  try {
    exit_code = WaitForProcessPumping(child.handle(), 20000, message::kRemoteSupportWait);
  } catch (const Failure& failure) {
    child.Terminate();
    FAIL() << "wait failed with " << failure.code;
  }
  EXPECT_EQ(exit_code, static_cast<std::uint32_t>(kProbeAnswer));
  EXPECT_EQ(ProbeWindow::received(), 1);
}

TEST(WaitForProcessPumpingTest, ServesSentAndPostedMessagesOfOtherThreads) {
  ProbeWindow window;
  ASSERT_NE(window.get(), nullptr);
  test::RunningProgram child = StartChild({L"sleep", L"60000", L"0"});
  const HWND target = window.get();
  const HANDLE process = child.handle();
  // The helper thread ends the child only after this thread has served a sent message and
  // a posted one; without dispatching, the wait runs into its limit.
  std::thread helper([target, process] {
    const LRESULT answer = ::SendMessageW(target, kProbeMessage, 0, 0);
    ::PostMessageW(target, kProbeMessage, 0, 0);
    while (ProbeWindow::received() < 2) {
      ::Sleep(10);
    }
    ::TerminateProcess(process, answer == kProbeAnswer ? 77 : 1);
  });
  std::uint32_t exit_code = 0;
  try {
    exit_code = WaitForProcessPumping(child.handle(), 20000, message::kRemoteSupportWait);
  } catch (const Failure& failure) {
    child.Terminate();
    ADD_FAILURE() << "wait failed with " << failure.code;
  }
  // Serve anything the helper still sends so it can end.
  MSG msg;
  while (ProbeWindow::received() < 2 && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::DispatchMessageW(&msg);
  }
  helper.join();
  EXPECT_EQ(exit_code, 77u);
}

TEST(WaitForProcessPumpingTest, DrainsThreadMessagesWhileWaiting) {
  test::RunningProgram child = StartChild({L"sleep", L"1500", L"9"});
  const DWORD thread_id = ::GetCurrentThreadId();
  MSG msg;
  ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // make sure the thread has a queue
  std::thread poster([thread_id] {
    for (int i = 0; i < 100; ++i) {
      ::PostThreadMessageW(thread_id, kProbeMessage, 0, 0);
    }
  });
  poster.join();
  EXPECT_EQ(WaitForProcessPumping(child.handle(), 20000, message::kRemoteSupportWait), 9u);
  // All 100 thread messages were taken off the queue during the wait.
  EXPECT_FALSE(::PeekMessageW(&msg, nullptr, kProbeMessage, kProbeMessage, PM_REMOVE));
}

// RelaunchElevated with the child program standing in for the launcher. Under Wine the
// "runas" verb starts the program without a consent prompt, which is enough to check what
// the elevated instance receives and that its exit code comes back.
class RelaunchElevatedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    report_ = JoinPath(temp, L"vexo-relaunch-report-" + DecimalText(::GetCurrentProcessId()));
    ::DeleteFileW(report_.c_str());
    ::SetEnvironmentVariableW(L"VEXO_CHILD_REPORT", report_.c_str());
  }
  void TearDown() override {
    ::DeleteFileW(report_.c_str());
    ::SetEnvironmentVariableW(L"VEXO_CHILD_REPORT", nullptr);
  }

  // The lines the child wrote: its current directory, then each argument.
  std::vector<std::wstring> ReportLines() const {
    std::vector<std::wstring> lines;
    UniqueHandle file(::CreateFileW(report_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!file) {
      return lines;
    }
    std::wstring text(4096, L'\0');
    DWORD read = 0;
    ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read,
               nullptr);
    text.resize(read / sizeof(wchar_t));
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  }

  std::wstring report_;
};

TEST_F(RelaunchElevatedTest, ElevatedInstanceSeesExactlyTheSwitchLine) {
  const std::wstring program = test::ChildProgramPath();
  const std::wstring run_id = L"0123456789abcdef0123456789abcdef";
  const std::vector<std::pair<LaunchRequest, std::vector<std::wstring>>> cases = {
      {LaunchRequest{LaunchMode::kNormalStart, L""}, {L"--portable-elevated"}},
      {LaunchRequest{LaunchMode::kCleanupRequest, run_id}, {L"--cleanup-elevated", run_id}},
  };
  for (const auto& [request, arguments] : cases) {
    ::DeleteFileW(report_.c_str());
    EXPECT_EQ(RelaunchElevated(program, request), kChildReported);
    const std::vector<std::wstring> lines = ReportLines();
    ASSERT_EQ(lines.size(), 1 + arguments.size());
    // The instance runs in the launcher's own folder.
    EXPECT_EQ(_wcsicmp(lines[0].c_str(), ParentPath(program).c_str()), 0) << lines[0];
    EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 1, lines.end()), arguments);
  }
}

TEST_F(RelaunchElevatedTest, MalformedRunIdStartsNothing) {
  const std::wstring bad_ids[] = {
      L"0123456789ABCDEF0123456789abcdef",   // upper case
      L"0123456789abcdef0123456789abcde",    // 31
      L"0123456789abcdef0123456789abcdef0",  // 33
      L"0123456789abcdef 123456789abcdef",   // a space would split the arguments
      L"0123456789abcdef\"123456789abcdef",  // a quote too
  };
  for (const std::wstring& id : bad_ids) {
    const Failure failure = CatchFailure([&] {
      RelaunchElevated(test::ChildProgramPath(), {LaunchMode::kCleanupRequest, id});
    });
    EXPECT_EQ(failure.code, error::kInvalidParameter);
    EXPECT_EQ(failure.message, message::kElevationCancelledOrFailed);
  }
  EXPECT_EQ(::GetFileAttributesW(report_.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Closes the shell's own error box, which ShellExecuteExW shows on this thread before it
// reports a failed start (the launcher's mask does not ask for silence).
class ShellErrorBoxCloser {
 public:
  ShellErrorBoxCloser() : thread_([this] { Run(); }) {}
  ~ShellErrorBoxCloser() {
    stop_ = true;
    thread_.join();
  }
  ShellErrorBoxCloser(const ShellErrorBoxCloser&) = delete;
  ShellErrorBoxCloser& operator=(const ShellErrorBoxCloser&) = delete;

 private:
  static BOOL CALLBACK CloseOwnDialog(HWND window, LPARAM) {
    DWORD process_id = 0;
    ::GetWindowThreadProcessId(window, &process_id);
    wchar_t class_name[16] = {};
    ::GetClassNameW(window, class_name, 16);
    if (process_id == ::GetCurrentProcessId() && std::wstring(class_name) == L"#32770") {
      ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    return TRUE;
  }
  void Run() {
    while (!stop_) {
      ::EnumWindows(&CloseOwnDialog, 0);
      ::Sleep(50);
    }
  }

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(RelaunchElevatedTest, MissingProgramFailsWithTheStartError) {
  const std::wstring missing = JoinPath(ParentPath(test::ChildProgramPath()), L"no-such.exe");
  ShellErrorBoxCloser closer;
  const Failure failure = CatchFailure([&] {
    RelaunchElevated(missing, {LaunchMode::kNormalStart, L""});
  });
  // Windows leaves ERROR_FILE_NOT_FOUND; Wine's shell clears the last error while it shows
  // its box, and a zero code never reaches the customer: it becomes 13.
  EXPECT_TRUE(failure.code == ERROR_FILE_NOT_FOUND || failure.code == error::kInvalidData)
      << failure.code;
  EXPECT_EQ(failure.message, message::kElevationCancelledOrFailed);
}

}  // namespace
}  // namespace vexo
