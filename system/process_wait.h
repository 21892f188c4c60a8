// The wait for another process that keeps this thread responsive: the launcher has one thread,
// and its message boxes, windows and messages from other processes must be served while the
// elevated instance or the Host runs.
#pragma once

#include <windows.h>

#include <cstdint>

namespace vexo {

// Time limit of WaitForProcessPumping that means "wait as long as it takes".
inline constexpr std::uint32_t kNoTimeLimit = 0xFFFFFFFF;

// The caller's words for the three ways the wait can fail.
struct ProcessWaitMessages {
  const wchar_t* wait_failed;     // the wait itself failed (the Windows error)
  const wchar_t* timed_out;       // the limit passed (1460)
  const wchar_t* result_unknown;  // the exit code could not be read (the Windows error)
};

// Waits for `process` to end, dispatching the thread's queued messages at least every 250 ms,
// and returns its exit code. With a limit other than kNoTimeLimit, a process still running
// after `limit_ms` milliseconds gives Failure 1460; a process that has ended is never reported
// as a time-out. The handle stays open.
std::uint32_t WaitForProcessPumping(HANDLE process,
                                    std::uint32_t limit_ms,
                                    const ProcessWaitMessages& messages);

}  // namespace vexo
