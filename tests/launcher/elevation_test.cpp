// The launcher's Windows parts on real processes and named mutexes of this Wine session, where
// the end-to-end tests cannot reach: the pumping wait, the elevated re-start's refusals and a
// session the launcher must not run in.
// The administrator check under both tokens, what the elevated instance receives, one lock
// holder per kind, its release and a refusal that brings a running Host forward are shown end to
// end (tests/e2e).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/error_codes.h"
#include "deploy/messages.h"
#include "launcher/elevation.h"
#include "launcher/messages.h"
#include "launcher/session_lock.h"
#include "system/process_wait.h"
#include "tests/common/catch_failure.h"
#include "tools/wine-bench/wine_driver.h"

namespace vexo {
namespace {

constexpr UINT kProbeMessage = WM_APP + 7;
constexpr LRESULT kProbeAnswer = 0x5EED;

test::RunningProgram StartChild(std::vector<std::wstring> arguments) {
  return test::StartProgram(
      {test::CurrentProgramFolder() + L"\\launcher_test_child.exe", std::move(arguments)});
}

std::uint32_t Wait(HANDLE process, std::uint32_t limit_ms) {
  return WaitForProcessPumping(process, limit_ms, message::kRemoteSupportWait);
}

// All 32 bits of an exit code come back; an ended child is never a time-out, even with no time
// left; a child still running at the limit is, and the wait leaves it running. Handles that
// give no exit code fail with their own messages.
TEST(WaitForProcessPumpingTest, ExitCodeTimeOutAndHandlesWithoutOne) {
  EXPECT_EQ(Wait(StartChild({L"sleep", L"0", L"4294967295"}).handle(), kNoTimeLimit), 0xFFFFFFFF);
  EXPECT_EQ(Wait(StartChild({L"sleep", L"600", L"42"}).handle(), 20000), 42u);
  test::RunningProgram ended = StartChild({L"sleep", L"0", L"7"});
  ended.WaitOrTerminate(kNoTimeLimit);
  EXPECT_EQ(Wait(ended.handle(), 0), 7u);

  test::RunningProgram sleeping = StartChild({L"sleep", L"60000", L"0"});
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_EQ(RefusalOf([&] { Wait(sleeping.handle(), 1000); }),
            Refusal(error::kTimeout, message::kPreparationTimedOut));
  EXPECT_GE(::GetTickCount64() - start, 1000u);
  EXPECT_FALSE(sleeping.HasEnded());
  const UniqueHandle set_event(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  UniqueHandle synchronize_only;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), sleeping.handle(), ::GetCurrentProcess(),
                                synchronize_only.put(), SYNCHRONIZE, FALSE, 0));
  sleeping.Terminate();
  const std::pair<HANDLE, std::wstring> cases[] = {
      {nullptr, Refusal(ERROR_INVALID_HANDLE, message::kWaitForEndFailed)},
      {set_event.get(), Refusal(ERROR_INVALID_HANDLE, message::kRunResultUnknown)},
      {synchronize_only.get(), Refusal(ERROR_ACCESS_DENIED, message::kRunResultUnknown)}};
  for (const auto& [handle, refusal] : cases) {
    EXPECT_EQ(RefusalOf([&] { Wait(handle, 1000); }), refusal);
  }
}

std::atomic<int> probe_messages{0};

LRESULT CALLBACK ProbeProcedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  probe_messages += msg == kProbeMessage ? 1 : 0;
  return msg == kProbeMessage ? kProbeAnswer : ::DefWindowProcW(window, msg, wparam, lparam);
}

// The child blocks in SendMessageW on a window of this thread and ends with the answer; a posted
// message and the thread's own queue wait too. The wait can only end if it dispatches and
// drains while it waits.
TEST(WaitForProcessPumpingTest, ServesSentPostedAndThreadMessages) {
  const WNDCLASSW window_class{0,       &ProbeProcedure, 0,       0,       nullptr,
                               nullptr, nullptr,         nullptr, nullptr, L"VexoPumpProbe"};
  ::RegisterClassW(&window_class);
  const HWND window = ::CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0,
                                        HWND_MESSAGE, nullptr, nullptr, nullptr);
  MSG msg;
  ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread gets its queue
  ::PostThreadMessageW(::GetCurrentThreadId(), kProbeMessage, 0, 0);
  ::PostMessageW(window, kProbeMessage, 0, 0);
  test::RunningProgram child = StartChild(
      {L"send", DecimalText(reinterpret_cast<std::uintptr_t>(window)), DecimalText(kProbeMessage)});
  EXPECT_EQ(Wait(child.handle(), 20000), static_cast<std::uint32_t>(kProbeAnswer));
  EXPECT_EQ(probe_messages.load(), 2);  // the sent and the posted one
  EXPECT_FALSE(::PeekMessageW(&msg, nullptr, kProbeMessage, kProbeMessage, PM_REMOVE));
  ::DestroyWindow(window);
}

// A run id that could smuggle arguments into an elevated process starts nothing (the run id
// grammar itself is tested with the command line). A program that cannot be started is a
// refusal: Wine's shell shows its own error box on this thread before it reports the failed
// start, which a helper thread closes; Windows leaves ERROR_FILE_NOT_FOUND, Wine's shell clears
// the last error while it shows its box, and a zero code never reaches the customer: it
// becomes 13.
TEST(RelaunchElevatedTest, MalformedRunIdOrMissingProgramIsRefused) {
  std::atomic<bool> stop{false};
  std::thread closer([&stop, thread = ::GetCurrentThreadId()] {
    for (; !stop; ::Sleep(50)) {
      ::EnumThreadWindows(
          thread,
          [](HWND box, LPARAM) -> BOOL {
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            return TRUE;
          },
          0);
    }
  });
  const std::wstring folder = test::CurrentProgramFolder();
  const std::wstring smuggling = RefusalOf([&] {
    RelaunchElevated(folder + L"\\launcher_test_child.exe",
                     {LaunchMode::kCleanupRequest, L"0123456789abcdef\" --x 6789abcdef"});
  });
  const std::wstring missing = RefusalOf([&] {
    RelaunchElevated(folder + L"\\no-such.exe", {LaunchMode::kNormalStart, L""});
  });
  stop = true;
  closer.join();
  EXPECT_EQ(smuggling, Refusal(error::kInvalidParameter, message::kElevationCancelledOrFailed));
  EXPECT_TRUE(missing == Refusal(ERROR_FILE_NOT_FOUND, message::kElevationCancelledOrFailed) ||
              (!test::kOnWindows &&
               missing == Refusal(error::kInvalidData, message::kElevationCancelledOrFailed)))
      << testing::PrintToString(missing);
}

// The launcher's code linked into this program calls ProcessIdToSessionId through the import
// pointer below, which this program defines in place of the import library's: a test can make
// it report what Wine never does, the services' session 0 or a failure.
using SessionQuery = BOOL(WINAPI*)(DWORD, DWORD*);
SessionQuery session_query = nullptr;  // null: the system's own

BOOL WINAPI QuerySession(DWORD process_id, DWORD* session_id) {
  static const auto system = reinterpret_cast<SessionQuery>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "ProcessIdToSessionId")));
  return (session_query != nullptr ? session_query : system)(process_id, session_id);
}

// The services' session and a failed session query are refused before any mutex is made. (A
// lock name another kind of object took is met end to end: tests/e2e/launcher_test.cpp.)
TEST(AcquireSessionLockTest, ServicesSessionOrFailedQueryIsRefused) {
  DWORD real_session = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &real_session);
  const SessionQuery fakes[] = {[](DWORD, DWORD* session_id) -> BOOL {
                                  *session_id = 0;
                                  return TRUE;
                                },
                                [](DWORD, DWORD*) -> BOOL {
                                  ::SetLastError(ERROR_ACCESS_DENIED);
                                  return FALSE;
                                }};
  for (const SessionQuery fake : fakes) {
    for (SessionLockKind kind : {SessionLockKind::kLauncher, SessionLockKind::kKeeper}) {
      SessionLock lock;
      session_query = fake;
      const std::wstring refusal = RefusalOf([&] { lock = AcquireSessionLock(kind); });
      session_query = nullptr;
      EXPECT_EQ(refusal, Refusal(error::kAccessDenied, message::kSessionUnknown));
      for (const DWORD session : {DWORD{0}, real_session}) {
        EXPECT_FALSE(
            UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, SessionLockName(session, kind).c_str()))
                .valid());
      }
    }
  }
}

}  // namespace
}  // namespace vexo

extern "C" {
vexo::SessionQuery __imp_ProcessIdToSessionId = &vexo::QuerySession;
}
