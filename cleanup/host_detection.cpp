#include "cleanup/host_detection.h"

#include <tlhelp32.h>

#include <vector>

#include "cleanup/messages.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/last_error.h"
#include "common/ordinal_compare.h"
#include "common/path.h"
#include "common/product.h"

#if defined(VEXO_EMULATED_SERVICE_ACCOUNT)
#include "cleanup/emulated_service_account.h"
#endif

namespace vexo {
namespace {

constexpr DWORD kHostProcessAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
constexpr DWORD kMaxTokenUserSize = 65536;

// Looks at one process of the snapshot; fails when it is a Host of the run folder that runs
// for a user, or one that cannot be told apart from such a Host.
void CheckListedProcess(const PROCESSENTRY32W& entry, const std::wstring& run_folder) {
  if (entry.th32ProcessID == ::GetCurrentProcessId() ||
      !EqualsOrdinalIgnoringCase(entry.szExeFile, product::kHostFileName)) {
    return;
  }
  const UniqueHandle process(::OpenProcess(kHostProcessAccess, FALSE, entry.th32ProcessID));
  if (!process) {
    if (::GetLastError() == ERROR_INVALID_PARAMETER) {
      return;  // it has gone since the snapshot
    }
    ThrowFailure(message::kHostEndUnknown, error::kBusy);
  }
  if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
    return;
  }
  const std::wstring image_path = GetProcessImagePath(process.get());
  if (image_path.empty()) {
    ThrowFailure(message::kHostPathUnknown, error::kBusy);
  }
  if (IsRunFolderHost(image_path, run_folder) && !IsLocalSystemProcess(process.get())) {
    ThrowFailure(message::kCloseHostFirst, error::kBusy);
  }
}

}  // namespace

bool IsRunFolderHost(std::wstring_view image_path, const std::wstring& run_folder) {
  return EqualsOrdinalIgnoringCase(image_path, JoinPath(run_folder, product::kHostFileName));
}

void EnsureHostStopped(const std::wstring& run_folder) {
  const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    ThrowLastError(message::kRunningHostNotChecked);
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (!::Process32FirstW(snapshot.get(), &entry)) {
    ThrowLastError(message::kRunningProgramsNotChecked);
  }
  do {
    CheckListedProcess(entry, run_folder);
  } while (::Process32NextW(snapshot.get(), &entry));
  if (::GetLastError() != error::kNoMoreFiles) {
    ThrowLastError(message::kHostCheckIncomplete);
  }
}

std::wstring GetProcessImagePath(HANDLE process) {
  // Room for the longest path and its terminator.
  std::wstring path(kLongPathCapacity + 1, L'\0');
  DWORD size = kLongPathCapacity;
  if (!::QueryFullProcessImageNameW(process, 0, path.data(), &size)) {
    return {};
  }
  path.resize(size);
  return path;
}

bool IsLocalSystemProcess(HANDLE process) {
#if defined(VEXO_EMULATED_SERVICE_ACCOUNT)
  if (emulated_service_account::IsProcessOfLocalSystemService(process)) {
    return true;
  }
#endif
  UniqueHandle token;
  if (!::OpenProcessToken(process, TOKEN_QUERY, token.put())) {
    ThrowLastError(message::kHostRightsNotChecked);
  }
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0 || size > kMaxTokenUserSize) {
    ThrowFailure(message::kHostRightsInvalid, error::kInvalidData);
  }
  // Pointer-sized elements keep the SID pointer inside the record aligned.
  std::vector<ULONG_PTR> buffer((size + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR), 0);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    ThrowLastError(message::kHostRightsNotRead);
  }
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  return ::IsWellKnownSid(user->User.Sid, WinLocalSystemSid) != FALSE;
}

}  // namespace vexo
