#include "system/job_process.h"

#include <array>
#include <cstddef>

#include "common/failure.h"
#include "common/last_error.h"

namespace vexo {
namespace {

constexpr DWORD kResumeFailed = 0xFFFFFFFF;
// More processes than a Host ever starts; a longer list is read in part, and the wait for
// those listed makes room for the rest on the next reading.
constexpr std::size_t kListedProcessCapacity = 256;

// JOBOBJECT_BASIC_PROCESS_ID_LIST as Windows writes it, with room for
// kListedProcessCapacity ids.
struct JobProcessIdList {
  DWORD assigned = 0;
  DWORD listed = 0;
  std::array<ULONG_PTR, kListedProcessCapacity> ids{};
};
static_assert(offsetof(JobProcessIdList, listed) ==
              offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, NumberOfProcessIdsInList));
static_assert(offsetof(JobProcessIdList, ids) ==
              offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList));

// Reads the ids of the job's processes. A list cut for lack of room (ERROR_MORE_DATA) still
// counts as read.
bool ReadJobProcessIds(HANDLE job, JobProcessIdList& list) noexcept {
  return ::QueryInformationJobObject(job, JobObjectBasicProcessIdList, &list, sizeof(list),
                                     nullptr) ||
         ::GetLastError() == ERROR_MORE_DATA;
}

// The first listed process that has not ended yet, opened for waiting; none when all have
// ended. A process that can no longer be opened has ended.
UniqueHandle OpenFirstRunningProcess(const JobProcessIdList& list) noexcept {
  for (DWORD i = 0; i < list.listed && i < kListedProcessCapacity; ++i) {
    UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(list.ids[i])));
    if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
      return process;
    }
  }
  return {};
}

void LimitToKillOnClose(HANDLE job, const JobProcessMessages& messages) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
    ThrowLastError(messages.job_limit_not_set);
  }
}

}  // namespace

bool EndJobProcesses(HANDLE job, std::uint32_t exit_code, DWORD limit_ms) noexcept {
  // A failed termination shows in the wait below.
  ::TerminateJobObject(job, exit_code);
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    JobProcessIdList list;
    if (!ReadJobProcessIds(job, list)) {
      return false;
    }
    const UniqueHandle running = OpenFirstRunningProcess(list);
    if (!running) {
      return true;
    }
    const ULONGLONG waited = ::GetTickCount64() - start;
    if (waited >= limit_ms ||
        ::WaitForSingleObject(running.get(), static_cast<DWORD>(limit_ms - waited)) !=
            WAIT_OBJECT_0) {
      return false;
    }
  }
}

void EndAndCloseJob(HANDLE job) noexcept {
  // Closing ends what is left in any case; a process that outlasts the wait is left for the
  // next check of running processes to find.
  EndJobProcesses(job, kProcessAbortedExitCode, kJobEndWaitMs);
  ::CloseHandle(job);
}

void AbortProcess(HANDLE process) noexcept {
  ::TerminateProcess(process, kProcessAbortedExitCode);
  ::WaitForSingleObject(process, kAbortedProcessWaitMs);
}

void JobProcess::Abort() const noexcept {
  AbortProcess(process_.get());
}

JobProcess StartProcessInJob(const std::wstring& application,
                             std::wstring command_line,
                             const std::wstring& current_folder,
                             std::wstring environment,
                             ProcessWindow window,
                             const JobProcessMessages& messages) {
  UniqueKillOnCloseJob job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) {
    ThrowLastError(messages.job_not_created);
  }
  LimitToKillOnClose(job.get(), messages);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const DWORD flags = CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT |
                      (window == ProcessWindow::kNone ? CREATE_NO_WINDOW : 0);
  if (!::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, FALSE, flags,
                        environment.data(), current_folder.c_str(), &startup, &info)) {
    ThrowLastError(messages.process_not_started);
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (!::AssignProcessToJobObject(job.get(), process.get()) ||
      ::ResumeThread(thread.get()) == kResumeFailed) {
    const DWORD error = ::GetLastError();
    AbortProcess(process.get());
    ThrowFailure(messages.job_not_attached, error);
  }
  return JobProcess(std::move(job), std::move(process), std::move(thread));
}

}  // namespace vexo
