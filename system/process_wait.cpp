#include "system/process_wait.h"

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/last_error.h"

namespace vexo {
namespace {

constexpr DWORD kPumpIntervalMs = 250;
constexpr int kMaxMessagesPerRound = 64;

// Serves at most 64 queued messages of this thread (any window, and thread messages), so
// message boxes and windows of the thread, and messages sent by other processes, are handled.
void DispatchQueuedMessages() {
  MSG msg{};
  for (int i = 0; i < kMaxMessagesPerRound; ++i) {
    if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      break;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

bool ProcessHasEnded(HANDLE process) noexcept {
  return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

DWORD WaitOneRound(HANDLE process) noexcept {
  return ::MsgWaitForMultipleObjects(1, &process, FALSE, kPumpIntervalMs, QS_ALLINPUT);
}

}  // namespace

std::uint32_t WaitForProcessPumping(HANDLE process,
                                    std::uint32_t limit_ms,
                                    const ProcessWaitMessages& messages) {
  const ULONGLONG start = ::GetTickCount64();
  DWORD result = WaitOneRound(process);
  while (result != WAIT_OBJECT_0) {
    if (result == WAIT_FAILED) {
      ThrowLastError(messages.wait_failed);
    }
    if (limit_ms != kNoTimeLimit && ::GetTickCount64() - start >= limit_ms) {
      // The process may have ended since the wait returned.
      if (ProcessHasEnded(process)) {
        break;
      }
      ThrowFailure(messages.timed_out, error::kTimeout);
    }
    DispatchQueuedMessages();
    result = WaitOneRound(process);
  }
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process, &exit_code)) {
    ThrowLastError(messages.result_unknown);
  }
  return exit_code;
}

}  // namespace vexo
