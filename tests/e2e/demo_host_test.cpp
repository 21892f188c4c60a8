// The stand-in Host as the launcher meets it: a process that shows a top-level window of the
// Host window class and ends with exit code 0 when that window is closed.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/handles.h"

namespace vexo {
namespace {

constexpr wchar_t kHostWindowClass[] = L"vexoNativeHost";
constexpr ULONGLONG kWindowDeadlineMs = 30000;
constexpr DWORD kExitDeadlineMs = 30000;
constexpr DWORD kPollIntervalMs = 50;

struct StartedHost {
  UniqueHandle process;
  UniqueHandle thread;
  DWORD process_id = 0;
};

StartedHost StartDemoHost() {
  std::wstring command_line = std::wstring(L"\"") + VEXO_DEMO_HOST_IMAGE + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  StartedHost host;
  if (!CreateProcessW(VEXO_DEMO_HOST_IMAGE, command_line.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &info)) {
    ADD_FAILURE() << "CreateProcessW failed, error " << GetLastError();
    return host;
  }
  host.process.reset(info.hProcess);
  host.thread.reset(info.hThread);
  host.process_id = info.dwProcessId;
  return host;
}

// The Host window of the given process, or null once the deadline has passed.
HWND WaitForHostWindow(DWORD process_id) {
  const ULONGLONG deadline = GetTickCount64() + kWindowDeadlineMs;
  while (GetTickCount64() < deadline) {
    for (HWND window = FindWindowExW(nullptr, nullptr, kHostWindowClass, nullptr);
         window != nullptr; window = FindWindowExW(nullptr, window, kHostWindowClass, nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == process_id) {
        return window;
      }
    }
    Sleep(kPollIntervalMs);
  }
  return nullptr;
}

struct CloseCase {
  const char* how;
  UINT message;
  WPARAM wparam;
};

TEST(DemoHostTest, ShowsTheHostWindowAndEndsWithZeroWhenClosed) {
  const CloseCase cases[] = {
      {"WM_CLOSE", WM_CLOSE, 0},
      {"system menu Close", WM_SYSCOMMAND, SC_CLOSE},
  };
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(c.how);
    StartedHost host = StartDemoHost();
    ASSERT_TRUE(host.process.valid());
    HWND window = WaitForHostWindow(host.process_id);
    ASSERT_NE(window, nullptr) << "no "
                               << "vexoNativeHost window";
    EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow()) << "not a top-level window";
    EXPECT_EQ(FindWindowW(kHostWindowClass, nullptr), window) << "launcher's lookup misses it";
    EXPECT_EQ(WaitForSingleObject(host.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the Host ended before it was closed";

    ASSERT_TRUE(PostMessageW(window, c.message, c.wparam, 0));
    ASSERT_EQ(WaitForSingleObject(host.process.get(), kExitDeadlineMs), WAIT_OBJECT_0);
    DWORD exit_code = 1;
    ASSERT_TRUE(GetExitCodeProcess(host.process.get(), &exit_code));
    EXPECT_EQ(exit_code, 0u);
    EXPECT_FALSE(IsWindow(window));
  }
}

}  // namespace
}  // namespace vexo
