// The administrator check, the elevated re-start's refusals and the pumping wait, on real
// processes. What the elevated instance receives is shown end to end
// (tests/e2e/session_elevation_test.cpp).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/error_codes.h"
#include "common/path.h"
#include "deploy/messages.h"
#include "launcher/elevation.h"
#include "launcher/messages.h"
#include "system/process_wait.h"
#include "tests/common/catch_failure.h"
#include "tests/support/wine_driver.h"

namespace vexo {
namespace {

constexpr UINT kProbeMessage = WM_APP + 7;
constexpr LRESULT kProbeAnswer = 0x5EED;
constexpr int kThreadMessages = 100;

std::wstring ChildPath() {
  return test::CurrentProgramFolder() + L"\\launcher_test_child.exe";
}

test::RunningProgram StartChild(std::vector<std::wstring> arguments,
                                test::TokenKind token = test::TokenKind::kFull) {
  return test::StartProgram(test::ProgramCommand(ChildPath(), std::move(arguments), token));
}

std::uint32_t Wait(HANDLE process, std::uint32_t limit_ms) {
  return WaitForProcessPumping(process, limit_ms, message::kRemoteSupportWait);
}

TEST(IsElevatedAdministratorTest, FollowsTheToken) {
  EXPECT_TRUE(IsElevatedAdministrator());
  EXPECT_EQ(Wait(StartChild({L"elevated"}).handle(), kNoTimeLimit), 0x101u);
  EXPECT_EQ(Wait(StartChild({L"elevated"}, test::TokenKind::kLimited).handle(), kNoTimeLimit),
            0x100u);
}

TEST(WaitForProcessPumpingTest, GivesTheExitCodeUnchanged) {
  const struct {
    std::vector<std::wstring> child;
    std::uint32_t limit_ms;
    bool ended_before_the_wait;
    std::uint32_t code;
  } cases[] = {
      {{L"exit", L"0"}, kNoTimeLimit, false, 0},
      {{L"exit", L"2147483648"}, kNoTimeLimit, false, 0x80000000},
      {{L"exit", L"4294967295"}, kNoTimeLimit, false, 0xFFFFFFFF},
      {{L"sleep", L"600", L"42"}, 20000, false, 42},
      {{L"exit", L"7"}, 0, true, 7},  // an ended child is never a time-out
  };
  for (const auto& c : cases) {
    test::RunningProgram child = StartChild(c.child);
    if (c.ended_before_the_wait) {
      child.WaitOrTerminate(kNoTimeLimit);
    }
    EXPECT_EQ(Wait(child.handle(), c.limit_ms), c.code) << testing::PrintToString(c.child);
  }
}

TEST(WaitForProcessPumpingTest, ChildRunningPastTheLimitTimesOutAndKeepsRunning) {
  test::RunningProgram child = StartChild({L"sleep", L"60000", L"0"});
  const ULONGLONG start = ::GetTickCount64();
  const Failure failure = CatchFailure([&] { Wait(child.handle(), 1000); });
  EXPECT_GE(::GetTickCount64() - start, 1000u);
  EXPECT_EQ(failure.code, error::kTimeout);
  EXPECT_EQ(failure.message, message::kPreparationTimedOut);
  EXPECT_FALSE(child.HasEnded());
}

TEST(WaitForProcessPumpingTest, HandlesThatGiveNoExitCodeFail) {
  // A signalled object that is not a process, and a process handle that may only be waited on.
  const UniqueHandle set_event(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  test::RunningProgram child = StartChild({L"exit", L"3"});
  child.WaitOrTerminate(kNoTimeLimit);
  UniqueHandle synchronize_only;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), child.handle(), ::GetCurrentProcess(),
                                synchronize_only.put(), SYNCHRONIZE, FALSE, 0));
  const struct {
    HANDLE handle;
    DWORD error;
    const wchar_t* message;
  } cases[] = {{nullptr, ERROR_INVALID_HANDLE, message::kWaitForEndFailed},
               {set_event.get(), ERROR_INVALID_HANDLE, message::kRunResultUnknown},
               {synchronize_only.get(), ERROR_ACCESS_DENIED, message::kRunResultUnknown}};
  for (const auto& c : cases) {
    const Failure failure = CatchFailure([&] { Wait(c.handle, 1000); });
    EXPECT_EQ(failure.code, c.error);
    EXPECT_EQ(failure.message, c.message);
  }
}

std::atomic<int> probe_messages{0};

LRESULT CALLBACK ProbeProcedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kProbeMessage) {
    ++probe_messages;
    return kProbeAnswer;
  }
  return ::DefWindowProcW(window, msg, wparam, lparam);
}

// The child blocks in SendMessageW on a window of this thread and ends with the answer, a posted
// message and the thread's own queue wait too: the wait can only end if it dispatches and drains
// while it waits.
TEST(WaitForProcessPumpingTest, ServesSentPostedAndThreadMessages) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &ProbeProcedure;
  window_class.lpszClassName = L"VexoPumpProbe";
  ::RegisterClassW(&window_class);
  const HWND window = ::CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0,
                                        HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  MSG msg;
  ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread gets its queue
  for (int i = 0; i < kThreadMessages; ++i) {
    ::PostThreadMessageW(::GetCurrentThreadId(), kProbeMessage, 0, 0);
  }
  ::PostMessageW(window, kProbeMessage, 0, 0);
  test::RunningProgram child = StartChild(
      {L"send", DecimalText(reinterpret_cast<std::uintptr_t>(window)), DecimalText(kProbeMessage)});
  EXPECT_EQ(Wait(child.handle(), 20000), static_cast<std::uint32_t>(kProbeAnswer));
  EXPECT_EQ(probe_messages.load(), 2);  // the sent and the posted one
  EXPECT_FALSE(::PeekMessageW(&msg, nullptr, kProbeMessage, kProbeMessage, PM_REMOVE));
  ::DestroyWindow(window);
}

TEST(RelaunchElevatedTest, MalformedRunIdStartsNothing) {
  const wchar_t* const bad_ids[] = {
      L"0123456789ABCDEF0123456789abcdef",   // upper case
      L"0123456789abcdef0123456789abcde",    // 31
      L"0123456789abcdef 123456789abcdef",   // a space would split the arguments
      L"0123456789abcdef\"123456789abcdef",  // a quote too
  };
  for (const wchar_t* id : bad_ids) {
    const Failure failure = CatchFailure([&] {
      RelaunchElevated(ChildPath(), {LaunchMode::kCleanupRequest, id});
    });
    EXPECT_EQ(failure.code, error::kInvalidParameter);
    EXPECT_EQ(failure.message, message::kElevationCancelledOrFailed);
  }
}

TEST(RelaunchElevatedTest, MissingProgramFailsWithTheStartError) {
  // Wine's shell shows its own error box on this thread before it reports the failed start;
  // a helper thread closes it.
  std::atomic<bool> stop{false};
  std::thread closer([&stop] {
    for (; !stop; ::Sleep(50)) {
      for (HWND box = ::FindWindowW(test::kDialogClass, nullptr); box != nullptr;
           box = ::FindWindowExW(nullptr, box, test::kDialogClass, nullptr)) {
        DWORD process_id = 0;
        ::GetWindowThreadProcessId(box, &process_id);
        if (process_id == ::GetCurrentProcessId()) {
          ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
      }
    }
  });
  const Failure failure = CatchFailure([&] {
    RelaunchElevated(JoinPath(test::CurrentProgramFolder(), L"no-such.exe"),
                     {LaunchMode::kNormalStart, L""});
  });
  stop = true;
  closer.join();
  // Windows leaves ERROR_FILE_NOT_FOUND; Wine's shell clears the last error while it shows its
  // box, and a zero code never reaches the customer: it becomes 13.
  EXPECT_TRUE(failure.code == ERROR_FILE_NOT_FOUND || failure.code == error::kInvalidData)
      << failure.code;
  EXPECT_EQ(failure.message, message::kElevationCancelledOrFailed);
}

}  // namespace
}  // namespace vexo
