// A process that lives inside a job object of its own, from its first instruction to the end of
// the job.
//
// The process is created suspended, put into an unnamed job whose only limit is
// kill-on-job-close, and only then resumed, so nothing it runs or starts escapes the job.
// Letting go of the job ends whatever is still in it. Windows ends a job's processes
// asynchronously, so the holder does not merely close the job: it ends every process still in
// it and waits, bounded, until none of them runs any more. Whoever looks for the process or its
// children right after the holder is gone finds them ended.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "common/handles.h"

namespace vexo {

// Exit code given to a process that is ended by its starter (ERROR_PROCESS_ABORTED).
inline constexpr std::uint32_t kProcessAbortedExitCode = 1067;
// How long a process ended by its starter is waited for.
inline constexpr DWORD kAbortedProcessWaitMs = 5000;
// How long the end of a job's processes is waited for when the job is let go.
inline constexpr DWORD kJobEndWaitMs = 5000;

enum class ProcessWindow {
  kNormal,  // the program may show windows as usual
  kNone,    // CREATE_NO_WINDOW: no console window either
};

// The caller's words for the ways the start can fail; each comes with the Windows error.
struct JobProcessMessages {
  const wchar_t* job_not_created;
  const wchar_t* job_limit_not_set;
  const wchar_t* process_not_started;
  const wchar_t* job_not_attached;  // putting the process into the job or resuming it failed
};

// Ends every process still in `job` with `exit_code` and waits up to `limit_ms` until none of
// them runs. Returns false when one still runs at the limit.
bool EndJobProcesses(HANDLE job, std::uint32_t exit_code, DWORD limit_ms) noexcept;

// Terminates `process` with kProcessAbortedExitCode and waits for its end for at most
// kAbortedProcessWaitMs. For a start or a wait that failed; never throws.
void AbortProcess(HANDLE process) noexcept;

// Ends the job's processes (EndJobProcesses with kProcessAbortedExitCode and kJobEndWaitMs),
// then closes the job.
void EndAndCloseJob(HANDLE job) noexcept;

struct KillOnCloseJobTraits {
  using Type = HANDLE;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { EndAndCloseJob(h); }
};
using UniqueKillOnCloseJob = UniqueResource<KillOnCloseJobTraits>;

// A started process with its primary thread and its job. The members are released in reverse
// order: thread, process, then the job with everything left in it.
class JobProcess {
 public:
  JobProcess(UniqueKillOnCloseJob job, UniqueHandle process, UniqueHandle thread) noexcept
      : job_(std::move(job)), process_(std::move(process)), thread_(std::move(thread)) {}

  HANDLE process() const noexcept { return process_.get(); }

  // AbortProcess on this process.
  void Abort() const noexcept;

 private:
  UniqueKillOnCloseJob job_;
  UniqueHandle process_;
  UniqueHandle thread_;
};

// Starts `application` with the writable `command_line` in `current_folder`, with the UTF-16
// `environment` block (nothing of the caller's), no inherited handles and a zeroed start-up
// record; suspended, then in its job, then resumed. A process that cannot be put into the job or
// resumed is aborted before the Failure leaves. Throws Failure with the Windows error and the
// matching message.
JobProcess StartProcessInJob(const std::wstring& application,
                             std::wstring command_line,
                             const std::wstring& current_folder,
                             std::wstring environment,
                             ProcessWindow window,
                             const JobProcessMessages& messages);

}  // namespace vexo
