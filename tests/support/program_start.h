// Starting programs under test with the full or the limited token of the test process.
//
// Under Wine every process runs as an elevated administrator. The limited (unelevated) start
// uses the token linked to the test's own token (TokenLinkedToken), which Wine gives as a
// filtered, medium-integrity token; CreateProcessAsUserW with it starts an unelevated process.
// Every wait has a time limit: a program that does not end in time is terminated and reported
// as timed out, so a hanging launcher fails its test instead of hanging the suite.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/handles.h"

namespace vexo::test {

enum class TokenKind {
  kFull,     // the test process's own token (elevated under Wine)
  kLimited,  // the linked, unelevated token
};

struct ProgramStart {
  std::wstring program;  // full path of the executable
  std::vector<std::wstring> arguments;
  TokenKind token = TokenKind::kFull;
  std::wstring working_directory;  // empty: the test process's current folder
};

// A start with the default working folder.
inline ProgramStart ProgramCommand(std::wstring program,
                                   std::vector<std::wstring> arguments = {},
                                   TokenKind token = TokenKind::kFull) {
  return {std::move(program), std::move(arguments), token, {}};
}

struct ProgramResult {
  std::uint32_t exit_code = 0;
  bool timed_out = false;  // did not end in time and was terminated
};

// One started process. Destroying a program that still runs terminates it, so no test leaves a
// process behind on any path.
class RunningProgram {
 public:
  RunningProgram(UniqueHandle process, std::uint32_t process_id)
      : process_(std::move(process)), process_id_(process_id) {}
  RunningProgram(RunningProgram&&) noexcept = default;
  // No move assignment: it would drop a running process without terminating it.
  RunningProgram& operator=(RunningProgram&&) = delete;
  ~RunningProgram();

  HANDLE handle() const noexcept { return process_.get(); }
  std::uint32_t id() const noexcept { return process_id_; }

  bool HasEnded() const;
  // The exit code once the process has ended within `timeout_ms`, otherwise nothing (the
  // process keeps running).
  std::optional<std::uint32_t> WaitForExit(std::uint32_t timeout_ms) const;
  // Waits up to `timeout_ms`; a process still running then is terminated and reported as
  // timed out.
  ProgramResult WaitOrTerminate(std::uint32_t timeout_ms);
  void Terminate();

 private:
  UniqueHandle process_;
  std::uint32_t process_id_ = 0;
};

// Command line for CreateProcessW: program and arguments quoted so that CommandLineToArgvW
// gives back exactly the same strings.
std::wstring BuildCommandLine(const std::wstring& program,
                              const std::vector<std::wstring>& arguments);

RunningProgram StartProgram(const ProgramStart& start);
ProgramResult RunProgram(const ProgramStart& start, std::uint32_t timeout_ms);

// TokenElevation of a process: true when elevated.
bool IsProcessElevated(HANDLE process);

// The folder of the running test program (where the bench's helper programs are built).
std::wstring CurrentProgramFolder();

}  // namespace vexo::test
