#include "tests/support/program_start.h"

#include <utility>

#include "tests/support/support_error.h"

namespace vexo::test {
namespace {

// Appends one argument with the quoting CommandLineToArgvW undoes: backslashes are literal
// except directly before a quote, where they are doubled; quotes are escaped.
void AppendQuotedArgument(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// The limited token that belongs to the test's own token, as a primary token for
// CreateProcessAsUserW.
UniqueHandle OpenLimitedToken() {
  UniqueHandle own_token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, own_token.put())) {
    ThrowSupportError("cannot open the test process token", ::GetLastError());
  }
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (!::GetTokenInformation(own_token.get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
    ThrowSupportError("the test process token has no linked limited token", ::GetLastError());
  }
  UniqueHandle linked_token(linked.LinkedToken);
  UniqueHandle primary;
  if (!::DuplicateTokenEx(linked_token.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                          TokenPrimary, primary.put())) {
    ThrowSupportError("cannot make a primary token of the limited token", ::GetLastError());
  }
  return primary;
}

}  // namespace

RunningProgram::~RunningProgram() {
  if (process_ && !HasEnded()) {
    // No throwing here: a program that will not end is the least of a failing test's worries.
    ::TerminateProcess(process_.get(), ERROR_TIMEOUT);
    ::WaitForSingleObject(process_.get(), 10000);
  }
}

bool RunningProgram::HasEnded() const {
  return ::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0;
}

std::optional<std::uint32_t> RunningProgram::WaitForExit(std::uint32_t timeout_ms) const {
  const DWORD wait = ::WaitForSingleObject(process_.get(), timeout_ms);
  if (wait == WAIT_TIMEOUT) {
    return std::nullopt;
  }
  if (wait != WAIT_OBJECT_0) {
    ThrowSupportError("waiting for the program failed", ::GetLastError());
  }
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process_.get(), &exit_code)) {
    ThrowSupportError("cannot read the program's exit code", ::GetLastError());
  }
  return exit_code;
}

ProgramResult RunningProgram::WaitOrTerminate(std::uint32_t timeout_ms) {
  if (const auto exit_code = WaitForExit(timeout_ms)) {
    return {*exit_code, false};
  }
  Terminate();
  return {ERROR_TIMEOUT, true};
}

void RunningProgram::Terminate() {
  // A process that ends on its own between the test and the call makes TerminateProcess fail
  // with access denied; the wait below settles both cases.
  ::TerminateProcess(process_.get(), ERROR_TIMEOUT);
  if (::WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) {
    ThrowSupportError("a terminated program did not end", ::GetLastError());
  }
}

std::wstring BuildCommandLine(const std::wstring& program,
                              const std::vector<std::wstring>& arguments) {
  std::wstring line;
  AppendQuotedArgument(line, program);
  for (const auto& argument : arguments) {
    line += L' ';
    AppendQuotedArgument(line, argument);
  }
  return line;
}

RunningProgram StartProgram(const ProgramStart& start) {
  std::wstring command_line = BuildCommandLine(start.program, start.arguments);
  const wchar_t* directory =
      start.working_directory.empty() ? nullptr : start.working_directory.c_str();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  BOOL started = FALSE;
  if (start.token == TokenKind::kLimited) {
    const UniqueHandle token = OpenLimitedToken();
    started = ::CreateProcessAsUserW(token.get(), start.program.c_str(), command_line.data(),
                                     nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, nullptr,
                                     directory, &startup, &info);
  } else {
    started = ::CreateProcessW(start.program.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                               CREATE_UNICODE_ENVIRONMENT, nullptr, directory, &startup, &info);
  }
  if (!started) {
    ThrowSupportError("cannot start " + ToUtf8(start.program), ::GetLastError());
  }
  const UniqueHandle thread(info.hThread);
  return RunningProgram(UniqueHandle(info.hProcess), info.dwProcessId);
}

ProgramResult RunProgram(const ProgramStart& start, std::uint32_t timeout_ms) {
  RunningProgram program = StartProgram(start);
  return program.WaitOrTerminate(timeout_ms);
}

bool IsProcessElevated(HANDLE process) {
  UniqueHandle token;
  if (!::OpenProcessToken(process, TOKEN_QUERY, token.put())) {
    ThrowSupportError("cannot open a process token", ::GetLastError());
  }
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) {
    ThrowSupportError("cannot read a token's elevation", ::GetLastError());
  }
  return elevation.TokenIsElevated != 0;
}

std::wstring CurrentProgramFolder() {
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) {
    ThrowSupportError("cannot find the test program's own path", ::GetLastError());
  }
  path.resize(length);
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) {
    ThrowSupportError("the test program's path has no folder", 0);
  }
  return path.substr(0, separator);
}

}  // namespace vexo::test
