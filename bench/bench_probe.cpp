// vexo-bench-probe: one start of a program, timed from inside the Wine session (scripts/bench,
// docs/performance.md).
//
//   vexo-bench-probe [--limited] [--watch] [--timeout-ms N] -- PROGRAM [ARGS...]
//
// Starts PROGRAM (with the limited token when asked) and waits for its end. With --watch it
// also looks every millisecond for the Host window (class vexoNativeHost) and for product
// message boxes, each of which it answers with OK at once so that a refusing start ends, and
// reads the program's private bytes. Prints one line, times in milliseconds from just before
// the process was created, -1 for a window never seen:
//
//   exit-code=N exit-ms=T host-window-ms=T first-box-ms=T peak-private-bytes=B
//
// Exit code 0 when the program was measured, whatever its own exit code; 1460 when it did not
// end in time (default 120000 ms) and was terminated; 2 for a bad command line, 3 for a failure
// of the probe itself.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/product.h"
#include "tools/wine-bench/wine_driver.h"

namespace {

using namespace vexo::test;

constexpr DWORD kLookIntervalMs = 1;
constexpr std::uint32_t kDefaultTimeoutMs = 120000;
constexpr int kExitUsage = 2;
constexpr int kExitProbeFailed = 3;
constexpr double kNeverSeen = -1;

using UsageError = std::invalid_argument;

enum class Watching { kExitOnly, kWindowsAndMemory };

struct Probe {
  ProgramStart start;
  Watching watching = Watching::kExitOnly;
  std::uint32_t timeout_ms = kDefaultTimeoutMs;
};

struct Observation {
  DWORD exit_code = 0;
  bool timed_out = false;
  double exit_ms = kNeverSeen;
  double host_window_ms = kNeverSeen;
  double first_box_ms = kNeverSeen;
  std::uint64_t peak_private_bytes = 0;
};

class Stopwatch {
 public:
  Stopwatch() {
    ::QueryPerformanceFrequency(&frequency_);
    ::QueryPerformanceCounter(&start_);
  }
  double ElapsedMs() const {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - start_.QuadPart) /
           static_cast<double>(frequency_.QuadPart);
  }

 private:
  LARGE_INTEGER frequency_{};
  LARGE_INTEGER start_{};
};

Probe ParseProbe(const std::vector<std::wstring>& args) {
  Probe probe;
  std::size_t i = 0;
  for (; i < args.size() && args[i] != L"--"; ++i) {
    if (args[i] == L"--limited") {
      probe.start.token = TokenKind::kLimited;
    } else if (args[i] == L"--watch") {
      probe.watching = Watching::kWindowsAndMemory;
    } else if (args[i] == L"--timeout-ms" && i + 1 < args.size()) {
      probe.timeout_ms = static_cast<std::uint32_t>(std::wcstoul(args[++i].c_str(), nullptr, 10));
    } else {
      throw UsageError("unknown option: " + ToUtf8(args[i]));
    }
  }
  if (i + 1 >= args.size() || probe.timeout_ms == 0) {
    throw UsageError("needs a time limit above 0, then -- and a program");
  }
  probe.start.program = args[i + 1];
  probe.start.arguments.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 2, args.end());
  return probe;
}

// Private bytes as the system counts them. Windows keeps their peak (PeakPagefileUsage); Wine
// 8 reports the current value there too, so the largest value seen by the caller is the peak.
std::uint64_t PrivateBytes(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters)) {
    return 0;
  }
  return std::max<std::uint64_t>(counters.PrivateUsage, counters.PeakPagefileUsage);
}

// Presses OK on every visible product box of the session; true when there was one.
bool AnswerProductBoxes() {
  bool seen = false;
  for (HWND box = nullptr;
       (box = ::FindWindowExW(nullptr, box, kDialogClass, kProductBoxCaption)) != nullptr;) {
    if (::IsWindowVisible(box)) {
      seen = true;
      ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
  }
  return seen;
}

void LookAt(HANDLE process, double now_ms, Observation& seen) {
  if (seen.host_window_ms == kNeverSeen &&
      ::FindWindowW(vexo::product::kHostWindowClass, nullptr) != nullptr) {
    seen.host_window_ms = now_ms;
  }
  if (AnswerProductBoxes() && seen.first_box_ms == kNeverSeen) {
    seen.first_box_ms = now_ms;
  }
  seen.peak_private_bytes = std::max(seen.peak_private_bytes, PrivateBytes(process));
}

Observation Measure(const Probe& probe) {
  Observation seen;
  const Stopwatch clock;
  RunningProgram program = StartProgram(probe.start);
  const DWORD interval = probe.watching == Watching::kExitOnly ? probe.timeout_ms : kLookIntervalMs;
  for (;;) {
    const DWORD wait = ::WaitForSingleObject(program.handle(), interval);
    const double now_ms = clock.ElapsedMs();
    if (wait == WAIT_OBJECT_0) {
      seen.exit_ms = now_ms;
      break;
    }
    if (wait != WAIT_TIMEOUT) {
      ThrowSupportError("cannot wait for the program", ::GetLastError());
    }
    if (now_ms >= probe.timeout_ms) {
      program.Terminate();
      seen.timed_out = true;
      break;
    }
    LookAt(program.handle(), now_ms, seen);
  }
  if (!::GetExitCodeProcess(program.handle(), &seen.exit_code)) {
    ThrowSupportError("cannot read the program's exit code", ::GetLastError());
  }
  return seen;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    const Observation seen = Measure(ParseProbe({argv + std::min(argc, 1), argv + argc}));
    std::printf(
        "exit-code=%lu exit-ms=%.3f host-window-ms=%.3f first-box-ms=%.3f "
        "peak-private-bytes=%llu\n",
        seen.exit_code, seen.exit_ms, seen.host_window_ms, seen.first_box_ms,
        static_cast<unsigned long long>(seen.peak_private_bytes));
    return seen.timed_out ? ERROR_TIMEOUT : 0;
  } catch (const UsageError& error) {
    std::fprintf(stderr, "vexo-bench-probe: %s (see the top of bench_probe.cpp)\n", error.what());
    return kExitUsage;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vexo-bench-probe: %s\n", error.what());
    return kExitProbeFailed;
  }
}
