// Starts vexo_security_tool.exe (built beside every test program) as another process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/failure.h"
#include "common/handles.h"
#include "common/path.h"

namespace vexo {

inline std::wstring SecurityToolPath() {
  std::vector<wchar_t> buffer(32768, L'\0');
  const DWORD length =
      ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return JoinPath(ParentPath(std::wstring(buffer.data(), length)), L"vexo_security_tool.exe");
}

inline std::wstring Quoted(const std::wstring& argument) {
  return L"\"" + argument + L"\"";
}

// Starts the tool with `arguments` (already quoted) and returns its process handle.
inline UniqueHandle StartSecurityTool(const std::wstring& arguments) {
  std::wstring command_line = Quoted(SecurityToolPath()) + L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ThrowFailure(L"security tool not started", ::GetLastError());
  }
  UniqueHandle thread(process.hThread);
  return UniqueHandle(process.hProcess);
}

inline DWORD WaitForExitCode(HANDLE process) {
  ::WaitForSingleObject(process, 60000);
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  return code;
}

// Runs the tool to its end and returns its exit code.
inline DWORD RunSecurityTool(const std::wstring& arguments) {
  UniqueHandle process = StartSecurityTool(arguments);
  return WaitForExitCode(process.get());
}

// Another process holding `path` open for reading without write or delete sharing for
// `milliseconds`; returns once the file is held.
class FileHeldByOtherProcess {
 public:
  FileHeldByOtherProcess(const std::wstring& path, DWORD milliseconds) {
    const std::wstring event_name = L"Local\\VexoSecurityToolReady-" +
                                    std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(::GetTickCount64());
    UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    process_ = StartSecurityTool(L"hold " + Quoted(path) + L" " + std::to_wstring(milliseconds) +
                                 L" " + Quoted(event_name));
    const HANDLE waits[] = {ready.get(), process_.get()};
    if (::WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0) {
      ThrowFailure(L"security tool did not hold the file", WaitForExitCode(process_.get()));
    }
  }
  ~FileHeldByOtherProcess() { ::WaitForSingleObject(process_.get(), 60000); }
  FileHeldByOtherProcess(const FileHeldByOtherProcess&) = delete;
  FileHeldByOtherProcess& operator=(const FileHeldByOtherProcess&) = delete;

 private:
  UniqueHandle process_;
};

}  // namespace vexo
