#include "tests/launcher/child_process.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "common/path.h"

namespace vexo::test {
namespace {

UniqueHandle StartWith(HANDLE token, const std::wstring& arguments) {
  const std::wstring program = ChildProgramPath();
  std::wstring command_line = L"\"" + program + L"\" " + arguments;
  std::vector<wchar_t> writable(command_line.begin(), command_line.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const BOOL started =
      token == nullptr
          ? ::CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &info)
          : ::CreateProcessAsUserW(token, program.c_str(), writable.data(), nullptr, nullptr, FALSE,
                                   0, nullptr, nullptr, &startup, &info);
  if (!started) {
    ADD_FAILURE() << "child start failed, error " << ::GetLastError();
    return UniqueHandle();
  }
  UniqueHandle thread(info.hThread);
  return UniqueHandle(info.hProcess);
}

}  // namespace

std::wstring ChildProgramPath() {
  wchar_t own[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, own, MAX_PATH);
  return JoinPath(ParentPath(own), L"launcher_test_child.exe");
}

UniqueHandle StartChild(const std::wstring& arguments) {
  return StartWith(nullptr, arguments);
}

UniqueHandle StartChildWithLimitedToken(const std::wstring& arguments) {
  UniqueHandle own_token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own_token.put())) {
    ADD_FAILURE() << "OpenProcessToken failed, error " << ::GetLastError();
    return UniqueHandle();
  }
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (!::GetTokenInformation(own_token.get(), TokenLinkedToken, &linked, sizeof(linked), &size)) {
    ADD_FAILURE() << "no linked token, error " << ::GetLastError();
    return UniqueHandle();
  }
  UniqueHandle linked_token(linked.LinkedToken);
  UniqueHandle primary;
  if (!::DuplicateTokenEx(linked_token.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                          TokenPrimary, primary.put())) {
    ADD_FAILURE() << "DuplicateTokenEx failed, error " << ::GetLastError();
    return UniqueHandle();
  }
  return StartWith(primary.get(), arguments);
}

}  // namespace vexo::test
