// A stand-in test program for the dry run of vexo-windows-runner (dry-run.sh): a GoogleTest
// program whose behaviour is chosen by the name it is copied under.
//
//   passes     both rows pass
//   fails      Row.Full fails
//   skips      Row.Limited skips, as a limited-token row does where no limited token exists
//   crashes    both rows pass, then it ends with exit code 3
//   silent     ends with 0 before it runs anything: no report
//   empty      runs no test (a filter that matches none)
//   hangs      starts a copy of itself that writes its process id to hangs.pid and sleeps, then
//              sleeps itself: the runner must end both
//
// `dry_run_program --ended PIDFILE` ends with 0 when the process named in PIDFILE has ended,
// 1 while it runs.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "common/handles.h"

namespace {

std::wstring OwnPath() {
  std::wstring path(MAX_PATH * 4, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

std::wstring OwnName() {
  const std::wstring path = OwnPath();
  const std::size_t slash = path.find_last_of(L'\\') + 1;
  return path.substr(slash, path.rfind(L'.') - slash);
}

TEST(Row, Full) {
  EXPECT_NE(OwnName(), L"fails") << "failed on purpose";
}

TEST(Row, Limited) {
  if (OwnName() == L"skips") {
    GTEST_SKIP() << "skipped on purpose";
  }
}

int SleepInAChild() {
  std::wstring line = L"\"" + OwnPath() + L"\" --child";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
    const vexo::UniqueHandle process(info.hProcess);
    const vexo::UniqueHandle thread(info.hThread);
    ::Sleep(INFINITE);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring name = OwnName();
  if (argc == 3 && std::wstring(argv[1]) == L"--ended") {
    DWORD id = 0;
    std::ifstream(argv[2]) >> id;
    const vexo::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
    return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT ? 1 : 0;
  }
  if (argc == 2 && std::wstring(argv[1]) == L"--child") {
    std::ofstream(L"hangs.pid") << ::GetCurrentProcessId();
    ::Sleep(INFINITE);
  }
  if (name == L"silent") {
    return 0;
  }
  if (name == L"hangs") {
    return SleepInAChild();
  }
  testing::InitGoogleTest(&argc, argv);
  if (name == L"empty") {
    GTEST_FLAG_SET(filter, "None.None");
  }
  const int status = RUN_ALL_TESTS();
  return name == L"crashes" ? 3 : status;
}
