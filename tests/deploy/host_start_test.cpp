// StartHost against the stand-in Host: the command line it gets, the time limit of the
// preparation run, and nothing of the Host, its child included, left running once the call is
// over. That any exit code comes back, and the environment the Host gets, are shown through
// the launcher (tests/e2e/main_job_test.cpp).
#include <gtest/gtest.h>

#include <windows.h>

#include <future>

#include "cleanup/host_detection.h"
#include "common/handles.h"
#include "deploy/host_start.h"
#include "deploy/messages.h"
#include "tests/common/catch_failure.h"
#include "tests/support/demo_host_run.h"

namespace vexo {
namespace {

using namespace test;

// Job, process and thread handles of this process, found by probing the handle table: only a
// job answers a job query, only a process gives a process id, only a thread a thread id.
std::size_t CountOwnJobProcessAndThreadHandles() {
  std::size_t count = 0;
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job{};
  for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
    const auto handle = reinterpret_cast<HANDLE>(value);
    count += ::QueryInformationJobObject(handle, JobObjectBasicAccountingInformation, &job,
                                         sizeof(job), nullptr) ||
             ::GetProcessId(handle) != 0 || ::GetThreadId(handle) != 0;
  }
  return count;
}

// The report the Host writes at its start: command line, current folder, its environment, one
// per line.
std::wstring ReadReport(const std::wstring& path) {
  std::wstring text(16384, L'\0');
  const UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0));
  DWORD bytes = 0;
  ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size() * 2), &bytes, nullptr);
  return text.substr(0, bytes / 2);
}

// The Host of the run folder, opened while `call` still runs on its thread, or none once the
// call is over (or when it has not run yet because it runs deferred).
UniqueHandle OpenRunningHost(const std::wstring& host_path, std::future<std::uint32_t>& call) {
  while (call.wait_for(std::chrono::milliseconds(20)) == std::future_status::timeout) {
    auto running = OpenProcessesRunning(host_path);
    if (!running.empty()) {
      return std::move(running.front().second);
    }
  }
  return {};
}

struct StartCase {
  const char* what;
  const wchar_t* host_name;  // empty: no Host file
  const wchar_t* knobs;
  const wchar_t* arguments;
  HostSupervision supervision;
  std::uint32_t exit_code;  // returned
  std::wstring refusal;     // of the Failure, as Refusal() writes it; empty: none
  DWORD host_exit;          // the Host's own exit code when not 0 (it must run a while)
};

TEST(StartHostTest, StartsInItsJobAndLeavesNothingRunning) {
  const StartCase cases[] = {
      // A child of the Host is still in the job when the Host ends: Windows ends a job's
      // processes after the job is closed, so StartHost waits for them.
      {"preparation leaving a child", L"Vexo-Host.exe", L"child;exit=0", L"--uac-install",
       HostSupervision::kOff, 0, L"", 0},
      {"preparation past its limit", L"Vexo-Host.exe", L"sleep=40000", L"--uac-install",
       HostSupervision::kOff, 0, Refusal(1460, message::kPreparationTimedOut), 1067},
      {"no Host file", L"", L"", L"", HostSupervision::kOn, 0,
       Refusal(ERROR_FILE_NOT_FOUND, message::kHostNotStarted), 0},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.what);
    const DemoHostRun run(c.host_name);
    const std::wstring report = run.OutsidePath(L"report.txt");
    const HostKnobs knobs(L"report=" + report + L";" + c.knobs);
    const std::size_t handles_before = CountOwnJobProcessAndThreadHandles();
    std::future<std::uint32_t> call = std::async(
        std::launch::async, [&] { return StartHost(run.folder(), c.arguments, c.supervision); });
    UniqueHandle host = OpenRunningHost(run.host_path(), call);
    std::uint32_t exit_code = 0;
    EXPECT_EQ(RefusalOf([&] { exit_code = call.get(); }), c.refusal);
    EXPECT_EQ(exit_code, c.exit_code);
    EXPECT_NO_THROW(EnsureHostStopped(run.folder()));
    if (c.host_exit != 0) {
      DWORD host_exit = 0;
      ASSERT_TRUE(host && ::GetExitCodeProcess(host.get(), &host_exit));
      EXPECT_EQ(host_exit, c.host_exit);
    }
    host.reset();
    call = {};  // joins the thread of the call
    EXPECT_EQ(CountOwnJobProcessAndThreadHandles(), handles_before);
    if (run.host_path().empty()) {
      continue;
    }
    std::wstring expected = L"\"" + run.host_path() + L"\"";
    expected += *c.arguments == L'\0' ? L"" : std::wstring(L" ") + c.arguments;
    EXPECT_TRUE(ReadReport(report).starts_with(expected + L"\n" + run.folder() + L"\n"));
  }
}

}  // namespace
}  // namespace vexo
