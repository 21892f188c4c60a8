// vexo-testctl: the bench's tools for scripts and the demo.
//
//   vexo-testctl run [--limited] [--answer BUTTON]... [--answer-after-ms N] [--timeout-ms N]
//                    -- PROGRAM [ARGS...]
//       Starts PROGRAM (with the limited token when asked), prints each product message box it
//       shows as one UTF-8 line and answers it (the given answers in order, then OK; after N ms
//       when asked, as slowly as a person would), then
//       prints the exit code and returns it. A program that does not end in time (default
//       60000 ms) is terminated; vexo-testctl then returns 1460.
//   vexo-testctl strip-resource FILE ID
//       Removes RT_RCDATA resource ID from FILE.
//   vexo-testctl patch-resource FILE ID OFFSET
//       Inverts the byte at OFFSET of RT_RCDATA resource ID in FILE.
//
// Errors of the tool itself go to stderr with exit code 2 (usage) or 3 (failure).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/box_watcher.h"
#include "tests/support/resource_patcher.h"
#include "tests/support/support_error.h"

namespace {

using namespace vexo::test;

constexpr int kExitUsage = 2;
constexpr int kExitToolFailed = 3;
constexpr std::uint32_t kDefaultTimeoutMs = 60000;

constexpr char kUsage[] =
    "usage: vexo-testctl run [--limited] [--answer BUTTON]... [--answer-after-ms N] "
    "[--timeout-ms N] -- PROGRAM [ARGS...]\n"
    "       vexo-testctl strip-resource FILE ID\n"
    "       vexo-testctl patch-resource FILE ID OFFSET\n"
    "BUTTON: ok cancel yes no abort retry ignore tryagain continue, or a number\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::uint32_t ParseNumber(const std::wstring& text, std::uint32_t max) {
  wchar_t* end = nullptr;
  errno = 0;
  const unsigned long long value = std::wcstoull(text.c_str(), &end, 0);
  if (text.empty() || text[0] == L'-' || end == text.c_str() || *end != L'\0' || errno != 0 ||
      value > max) {
    throw UsageError("not a number in range: " + ToUtf8(text));
  }
  return static_cast<std::uint32_t>(value);
}

int ParseButton(const std::wstring& text) {
  if (const auto id = ButtonIdFromName(text)) {
    return *id;
  }
  return static_cast<int>(ParseNumber(text, std::numeric_limits<int>::max()));
}

std::wstring FullPath(const std::wstring& path) {
  std::wstring full(32768, L'\0');
  const DWORD length =
      ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) {
    ThrowSupportError("cannot resolve " + ToUtf8(path), ::GetLastError());
  }
  full.resize(length);
  return full;
}

int RunCommand(const std::vector<std::wstring>& args) {
  ProgramStart start;
  std::deque<int> answers;
  std::uint32_t timeout_ms = kDefaultTimeoutMs;
  std::uint32_t answer_after_ms = 0;
  std::size_t i = 0;
  for (; i < args.size() && args[i] != L"--"; ++i) {
    if (args[i] == L"--limited") {
      start.token = TokenKind::kLimited;
    } else if (args[i] == L"--answer" && i + 1 < args.size()) {
      answers.push_back(ParseButton(args[++i]));
    } else if (args[i] == L"--answer-after-ms" && i + 1 < args.size()) {
      answer_after_ms = ParseNumber(args[++i], kDefaultTimeoutMs);
    } else if (args[i] == L"--timeout-ms" && i + 1 < args.size()) {
      timeout_ms = ParseNumber(args[++i], std::numeric_limits<std::uint32_t>::max() / 2);
    } else {
      throw UsageError("unknown run option: " + ToUtf8(args[i]));
    }
  }
  if (i + 1 >= args.size()) {
    throw UsageError("run needs -- and a program");
  }
  start.program = FullPath(args[i + 1]);
  start.arguments.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 2, args.end());

  BoxResponder responder([&answers, answer_after_ms](const ObservedBox& box) {
    int press = IDOK;
    if (!answers.empty()) {
      press = answers.front();
      answers.pop_front();
    }
    PrintLine("box " + DescribeBox(box));
    ::Sleep(answer_after_ms);
    if (box.HasButton(press)) {
      PrintLine("answer " + ToUtf8(ButtonName(press)));
    } else {
      PrintLine("answer-unavailable " + ToUtf8(ButtonName(press)) + ", dismissed");
    }
    return press;
  });
  RunningProgram program = responder.Start(start);
  const ProgramResult result = responder.WaitForExit(program, timeout_ms);
  if (result.timed_out) {
    PrintLine("timeout " + std::to_string(timeout_ms) + " ms, terminated");
  }
  PrintLine("exit-code " + std::to_string(result.exit_code));
  return static_cast<int>(result.exit_code);
}

int StripResourceCommand(const std::vector<std::wstring>& args) {
  if (args.size() != 2) {
    throw UsageError("strip-resource takes FILE ID");
  }
  RemoveResource(args[0], RT_RCDATA, static_cast<std::uint16_t>(ParseNumber(args[1], 0xFFFF)));
  return 0;
}

int PatchResourceCommand(const std::vector<std::wstring>& args) {
  if (args.size() != 3) {
    throw UsageError("patch-resource takes FILE ID OFFSET");
  }
  FlipResourceByte(args[0], static_cast<std::uint16_t>(ParseNumber(args[1], 0xFFFF)),
                   ParseNumber(args[2], std::numeric_limits<std::uint32_t>::max()));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    if (argc < 2) {
      throw UsageError("no command");
    }
    const std::wstring command = argv[1];
    const std::vector<std::wstring> args(argv + 2, argv + argc);
    if (command == L"run") {
      return RunCommand(args);
    }
    if (command == L"strip-resource") {
      return StripResourceCommand(args);
    }
    if (command == L"patch-resource") {
      return PatchResourceCommand(args);
    }
    throw UsageError("unknown command: " + ToUtf8(command));
  } catch (const UsageError& error) {
    std::fprintf(stderr, "vexo-testctl: %s\n%s", error.what(), kUsage);
    return kExitUsage;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vexo-testctl: %s\n", error.what());
    return kExitToolFailed;
  }
}
