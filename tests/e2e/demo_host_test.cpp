// The stand-in Host as the launcher meets it: a process that shows a top-level window of the
// Host window class and ends with exit code 0 when that window is closed.
#include <gtest/gtest.h>

#include "common/product.h"
#include "tests/support/wine_driver.h"

namespace vexo::test {
namespace {

constexpr std::uint32_t kDeadlineMs = 30000;

// The Host window of the given process, or null once the deadline has passed.
HWND WaitForHostWindow(std::uint32_t process_id) {
  const ULONGLONG deadline = ::GetTickCount64() + kDeadlineMs;
  for (; ::GetTickCount64() < deadline; ::Sleep(kBoxPollIntervalMs)) {
    for (HWND window = ::FindWindowExW(nullptr, nullptr, product::kHostWindowClass, nullptr);
         window != nullptr;
         window = ::FindWindowExW(nullptr, window, product::kHostWindowClass, nullptr)) {
      DWORD owner = 0;
      ::GetWindowThreadProcessId(window, &owner);
      if (owner == process_id) {
        return window;
      }
    }
  }
  return nullptr;
}

TEST(DemoHostTest, ShowsTheHostWindowAndEndsWithZeroWhenClosed) {
  const struct {
    const char* how;
    UINT message;
    WPARAM wparam;
  } cases[] = {{"WM_CLOSE", WM_CLOSE, 0}, {"system menu Close", WM_SYSCOMMAND, SC_CLOSE}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    RunningProgram host = StartProgram(ProgramCommand(VEXO_DEMO_HOST_IMAGE));
    const HWND window = WaitForHostWindow(host.id());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(::GetAncestor(window, GA_PARENT), ::GetDesktopWindow()) << "not top-level";
    EXPECT_EQ(::FindWindowW(product::kHostWindowClass, nullptr), window) << "lookup misses it";
    EXPECT_FALSE(host.HasEnded());
    ASSERT_TRUE(::PostMessageW(window, c.message, c.wparam, 0));
    EXPECT_EQ(host.WaitOrTerminate(kDeadlineMs).exit_code, 0u);
    EXPECT_FALSE(::IsWindow(window));
  }
}

}  // namespace
}  // namespace vexo::test
