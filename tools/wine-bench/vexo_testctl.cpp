// vexo-testctl: the bench for scripts and the demo.
//
//   vexo-testctl run [--limited] [--yes] [--answer-after-ms N] [--answer-when-file FILE]
//                    [--timeout-ms N] -- PROGRAM [ARGS...]
//       Runs PROGRAM (with the limited token when asked), dismisses each product message box
//       it shows (Cancel, else No, else OK; Yes first with --yes; after N ms when asked, as
//       slowly as a person would; only once FILE exists when asked, deleting it: a script
//       creates it when it has what it needs of the box), then prints each box as one UTF-8
//       line and the exit code, and
//       returns the exit code; 1460 when the program did not end in time (default 60000 ms) and
//       was terminated.
//   vexo-testctl strip-resource FILE ID          removes RT_RCDATA resource ID
//   vexo-testctl patch-resource FILE ID OFFSET   inverts one byte of RT_RCDATA resource ID
//   vexo-testctl set-security PATH SDDL          records SDDL for PATH (emulated build only)
//   vexo-testctl seed-program-files              records Windows' own descriptor for
//                                                C:\Program Files (emulated build only)
//
// Errors of the tool itself: exit code 2 (usage) or 3 (failure), with the reason on stderr.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <stdexcept>

#include "run/run_placement.h"
#include "tools/wine-bench/wine_driver.h"

namespace {

using namespace vexo::test;
using Arguments = std::vector<std::wstring>;

constexpr int kExitUsage = 2;
constexpr int kExitToolFailed = 3;
constexpr std::uint32_t kDefaultTimeoutMs = 60000;

// A command line the tool does not understand.
using UsageError = std::invalid_argument;

std::uint32_t ParseNumber(const std::wstring& text, std::uint32_t max) {
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(text.c_str(), &end, 10);
  if (text.empty() || text[0] < L'0' || text[0] > L'9' || *end != L'\0' || value > max) {
    throw UsageError("not a number in range: " + ToUtf8(text));
  }
  return static_cast<std::uint32_t>(value);
}

int RunCommand(const Arguments& args) {
  ProgramStart start;
  std::uint32_t timeout_ms = kDefaultTimeoutMs;
  std::uint32_t answer_after_ms = 0;
  std::wstring answer_when_file;
  int first_answer = IDCANCEL;
  std::size_t i = 0;
  for (; i + 1 < args.size() && args[i] != L"--"; ++i) {
    if (args[i] == L"--limited") {
      start.token = TokenKind::kLimited;
    } else if (args[i] == L"--yes") {
      first_answer = IDYES;
    } else if (args[i] == L"--answer-after-ms") {
      answer_after_ms = ParseNumber(args[++i], kDefaultTimeoutMs);
    } else if (args[i] == L"--answer-when-file") {
      answer_when_file = args[++i];
    } else if (args[i] == L"--timeout-ms") {
      timeout_ms = ParseNumber(args[++i], std::numeric_limits<std::uint32_t>::max() / 2);
    } else {
      throw UsageError("unknown run option: " + ToUtf8(args[i]));
    }
  }
  if (i + 1 >= args.size() || args[i] != L"--") {
    throw UsageError("run needs -- and a program");
  }
  start.program.resize(MAX_PATH * 4);
  start.program.resize(::GetFullPathNameW(args[i + 1].c_str(),
                                          static_cast<DWORD>(start.program.size()),
                                          start.program.data(), nullptr));
  start.arguments.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 2, args.end());

  // Every box is reported, and dismissed with Cancel, else No, else OK, once it has been up for
  // `answer_after_ms`.
  std::vector<ObservedBox> boxes;
  BoxResponder responder(
      [&](const ObservedBox& box) {
        boxes.push_back(box);
        const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
        while (!answer_when_file.empty() && !::DeleteFileW(answer_when_file.c_str()) &&
               ::GetTickCount64() < deadline) {
          ::Sleep(kBoxPollIntervalMs);
        }
        return first_answer;
      },
      answer_after_ms);
  RunningProgram program = StartProgram(start);
  const ProgramResult result = responder.WaitForExit(program, timeout_ms);
  responder.Poll();
  for (const ObservedBox& box : boxes) {
    std::printf("box %s\n", DescribeBox(box).c_str());
  }
  if (result.timed_out) {
    std::printf("timeout %u ms, terminated\n", timeout_ms);
  }
  std::printf("exit-code %u\n", result.exit_code);
  return static_cast<int>(result.exit_code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  const Arguments args(argv + std::min(argc, 2), argv + argc);
  try {
    if (command == L"run") {
      return RunCommand(args);
    }
    if (command == L"strip-resource" && args.size() == 2) {
      RemoveResource(args[0], RT_RCDATA, static_cast<std::uint16_t>(ParseNumber(args[1], 0xFFFF)));
      return 0;
    }
    if (command == L"patch-resource" && args.size() == 3) {
      FlipResourceByte(args[0], static_cast<std::uint16_t>(ParseNumber(args[1], 0xFFFF)),
                       ParseNumber(args[2], std::numeric_limits<std::uint32_t>::max()));
      return 0;
    }
#if defined(VEXO_EMULATED_FILE_SECURITY)
    if (command == L"set-security" && args.size() == 2) {
      RecordSecurity(args[0], args[1].c_str());
      return 0;
    }
    if (command == L"seed-program-files" && args.empty()) {
      RecordSecurity(vexo::GetProgramFilesFolder(), kProgramFilesSddl);
      return 0;
    }
#endif
    throw UsageError("unknown command or wrong number of arguments: " + ToUtf8(command));
  } catch (const UsageError& error) {
    std::fprintf(stderr, "vexo-testctl: %s (see the top of vexo_testctl.cpp)\n", error.what());
    return kExitUsage;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vexo-testctl: %s\n", error.what());
    return kExitToolFailed;
  }
}
