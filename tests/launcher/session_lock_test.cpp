// The session locks on real named mutexes of this Wine session.
#include <gtest/gtest.h>

#include "tests/common/catch_failure.h"

#include <windows.h>

#include <string>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/product.h"
#include "launcher/messages.h"
#include "launcher/session_lock.h"
#include "tests/launcher/import_patch.h"

namespace vexo {
namespace {

std::uint32_t CurrentSessionId() {
  DWORD session_id = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session_id);
  return session_id;
}

// Whether a mutex of that name exists in the session, as another process would see it.
bool MutexExists(SessionLockKind keeper) {
  UniqueHandle probe(
      ::OpenMutexW(SYNCHRONIZE, FALSE, SessionLockName(CurrentSessionId(), keeper).c_str()));
  return probe.valid();
}

TEST(AcquireSessionLockTest, HeldLockIsVisibleByItsSessionName) {
  ASSERT_NE(CurrentSessionId(), 0u);
  for (SessionLockKind keeper : {SessionLockKind::kLauncher, SessionLockKind::kKeeper}) {
    SessionLock lock;
    lock = AcquireSessionLock(keeper);
    EXPECT_TRUE(lock.valid());
    EXPECT_TRUE(MutexExists(keeper));
    lock.reset();
    EXPECT_FALSE(MutexExists(keeper));
  }
}

TEST(AcquireSessionLockTest, SecondAcquireIsRefusedAndLeavesTheHolderEmpty) {
  for (SessionLockKind keeper : {SessionLockKind::kLauncher, SessionLockKind::kKeeper}) {
    SessionLock first;
    first = AcquireSessionLock(keeper);
    ASSERT_TRUE(first.valid());

    SessionLock second;
    const Failure failure = CatchFailure([&] { second = AcquireSessionLock(keeper); });
    EXPECT_EQ(failure.code, error::kAlreadyExists);
    EXPECT_EQ(failure.message, message::kAlreadyRunning);
    EXPECT_FALSE(second.valid());
    // The refused attempt changed nothing for the holder.
    EXPECT_TRUE(first.valid());
    EXPECT_TRUE(MutexExists(keeper));

    // Once the holder lets go, the next start gets the lock.
    first.reset();
    SessionLock third;
    third = AcquireSessionLock(keeper);
    EXPECT_TRUE(third.valid());
  }
}

TEST(AcquireSessionLockTest, LauncherAndKeeperLocksAreIndependent) {
  SessionLock launcher;
  launcher = AcquireSessionLock(SessionLockKind::kLauncher);
  SessionLock keeper;
  keeper = AcquireSessionLock(SessionLockKind::kKeeper);
  EXPECT_TRUE(launcher.valid());
  EXPECT_TRUE(keeper.valid());
}

TEST(AcquireSessionLockTest, NameTakenByAnotherKindOfObjectFails) {
  // An event squatting on the lock's name makes the mutex creation itself fail.
  UniqueHandle squatter(
      ::CreateEventW(nullptr, TRUE, FALSE,
                     SessionLockName(CurrentSessionId(), SessionLockKind::kLauncher).c_str()));
  ASSERT_TRUE(squatter);
  SessionLock lock;
  const Failure failure =
      CatchFailure([&] { lock = AcquireSessionLock(SessionLockKind::kLauncher); });
  EXPECT_EQ(failure.code, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(failure.message, message::kDuplicateStateUnknown);
  EXPECT_FALSE(lock.valid());
}

BOOL WINAPI ReportSessionZero(DWORD, DWORD* session_id) {
  *session_id = 0;
  return TRUE;
}

BOOL WINAPI FailSessionQuery(DWORD, DWORD*) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST(AcquireSessionLockTest, ServicesSessionAndFailedQueryAreRefusedBeforeAnyMutex) {
  const std::uint32_t real_session = CurrentSessionId();
  using Query = BOOL(WINAPI*)(DWORD, DWORD*);
  const Query replacements[] = {&ReportSessionZero, &FailSessionQuery};
  for (Query replacement : replacements) {
    for (SessionLockKind keeper : {SessionLockKind::kLauncher, SessionLockKind::kKeeper}) {
      SessionLock lock;
      Failure failure{0, L""};
      {
        test::ImportPatch patch("ProcessIdToSessionId", reinterpret_cast<void*>(replacement));
        ASSERT_TRUE(patch.applied());
        failure = CatchFailure([&] { lock = AcquireSessionLock(keeper); });
      }
      EXPECT_EQ(failure.code, error::kAccessDenied);
      EXPECT_EQ(failure.message, message::kSessionUnknown);
      EXPECT_FALSE(lock.valid());
      UniqueHandle session_zero(
          ::OpenMutexW(SYNCHRONIZE, FALSE, SessionLockName(0, keeper).c_str()));
      EXPECT_FALSE(session_zero.valid());
      UniqueHandle real(
          ::OpenMutexW(SYNCHRONIZE, FALSE, SessionLockName(real_session, keeper).c_str()));
      EXPECT_FALSE(real.valid());
    }
  }
}

// A stand-in for the Host's top-level window, of the Host's window class.
class HostWindow {
 public:
  HostWindow() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = ::DefWindowProcW;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = product::kHostWindowClass;
    ::RegisterClassW(&window_class);
    window_ = ::CreateWindowExW(0, product::kHostWindowClass, L"Host", WS_OVERLAPPEDWINDOW, 0, 0,
                                300, 200, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  }
  ~HostWindow() { ::DestroyWindow(window_); }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

void PumpFor(DWORD milliseconds) {
  const ULONGLONG end = ::GetTickCount64() + milliseconds;
  MSG msg;
  while (::GetTickCount64() < end) {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::DispatchMessageW(&msg);
    }
    ::Sleep(10);
  }
}

TEST(AcquireSessionLockTest, RefusalRestoresAndRaisesTheHostWindow) {
  HostWindow host;
  ASSERT_NE(host.get(), nullptr);
  ::ShowWindow(host.get(), SW_SHOWMINIMIZED);
  PumpFor(100);
  ASSERT_TRUE(::IsIconic(host.get()));

  SessionLock first;
  first = AcquireSessionLock(SessionLockKind::kLauncher);
  EXPECT_TRUE(::IsIconic(host.get()));  // winning the lock leaves the Host alone

  SessionLock second;
  const Failure failure =
      CatchFailure([&] { second = AcquireSessionLock(SessionLockKind::kLauncher); });
  EXPECT_EQ(failure.code, error::kAlreadyExists);
  PumpFor(200);
  EXPECT_FALSE(::IsIconic(host.get()));
  EXPECT_TRUE(::IsWindowVisible(host.get()));
  EXPECT_EQ(::GetForegroundWindow(), host.get());
}

}  // namespace
}  // namespace vexo
