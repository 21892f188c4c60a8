// Named crash points: places where a test build can end its own process at once, so that tests
// can prove that every state a killed launcher or update worker leaves behind is one that the
// next start or `--cleanup` handles. They exist only in the test flavour (VEXO_TEST_KNOBS); in
// every other build CrashPoint compiles to nothing, and a release build refuses the flavour.
//
// A test arms one point for one process tree through the environment:
//   VEXO_TEST_CRASH_POINT   the point's name, or "name@N" for its N-th pass (1 when omitted)
//   VEXO_TEST_CRASH_MARKER  a file that the point creates, holding its name, before the process
//                           ends, so the test knows the process ended there and not elsewhere
//   VEXO_TEST_CRASH_PAUSE   when not empty, the point pauses instead: it writes the marker and
//                           goes on once the test has deleted it, so that the test can change
//                           the world at that very point (at most two minutes, then it ends)
// The process then ends with kCrashPointExitCode, without unwinding: no destructor, handle
// holder or catch block runs, exactly as when the process is killed from outside.
#pragma once

#include <cstdint>
#include <string_view>

namespace vexo {

inline constexpr std::uint32_t kCrashPointExitCode = 1067;  // ERROR_PROCESS_ABORTED

#if defined(VEXO_TEST_KNOBS)
void CrashPoint(std::wstring_view name);
#else
inline void CrashPoint(std::wstring_view) {}
#endif

}  // namespace vexo
