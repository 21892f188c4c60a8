#include "cleanup/host_detection.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <optional>
#include <vector>

#include "cleanup/messages.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/last_error.h"
#include "common/ordinal_compare.h"
#include "common/path.h"
#include "common/product.h"
#include "common/system_library.h"
#include "fs/file_identity.h"

#if defined(VEXO_EMULATED_SERVICE_ACCOUNT)
#include "cleanup/emulated_service_account.h"
#endif

namespace vexo {
namespace {

constexpr DWORD kHostProcessAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
constexpr DWORD kMaxTokenUserSize = 65536;

// The system's process id information (SystemProcessIdInformation): the image path of a process
// given by its id, in the kernel's device form, without opening the process. An administrator
// gets it for every process, also for one whose security descriptor refuses to be opened.
constexpr ULONG kSystemProcessIdInformation = 88;
constexpr NTSTATUS kStatusInvalidCid = static_cast<NTSTATUS>(0xC000000B);  // no such process
constexpr wchar_t kDevicePathPrefix[] = L"\\\\?\\GLOBALROOT";
struct ProcessIdImage {
  HANDLE process_id;
  UNICODE_STRING image_name;
};
struct NtFunctions {
  NTSTATUS(NTAPI* query_system_information)(ULONG, void*, ULONG, ULONG*) = nullptr;
};
constexpr SystemExport<NtFunctions> kNtExports[] = {
    ExportInto<&NtFunctions::query_system_information>("NtQuerySystemInformation"),
};

// The image path of a process, without opening it: nothing when it has ended, empty when the
// system does not tell (Wine 8 has no such information).
std::optional<std::wstring> ImagePathFromProcessId(DWORD process_id) {
  static const auto ntdll = LoadSystemFunctions<NtFunctions>(L"ntdll.dll", kNtExports);
  if (!ntdll) {
    return std::wstring();
  }
  std::vector<wchar_t> name(kLongPathCapacity, L'\0');
  ProcessIdImage query{
      reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(process_id)),
      {0, static_cast<USHORT>((kLongPathCapacity - 1) * sizeof(wchar_t)), name.data()}};
  const NTSTATUS status = ntdll->functions.query_system_information(kSystemProcessIdInformation,
                                                                    &query, sizeof(query), nullptr);
  if (status == kStatusInvalidCid) {
    return std::nullopt;
  }
  if (!NT_SUCCESS(status) || query.image_name.Length == 0) {
    return std::wstring();
  }
  return kDevicePathPrefix + std::wstring(name.data(), query.image_name.Length / sizeof(wchar_t));
}

// The run's Host file as the process list can show it: the names a process started from it
// carries (its file name, and its 8.3 short name when the volume gives it one; a process
// started by a short path shows that one) and its identity, none when the file is not there.
struct RunHostFile {
  std::vector<std::wstring> names;
  std::optional<FileIdentity> identity;
};

RunHostFile ReadRunHostFile(const std::wstring& run_folder) {
  const std::wstring host_path = JoinPath(run_folder, product::kHostFileName);
  RunHostFile host{{product::kHostFileName}, IdentityOfFile(host_path)};
  std::wstring short_path(kLongPathCapacity, L'\0');
  const DWORD length = ::GetShortPathNameW(host_path.c_str(), short_path.data(), kLongPathCapacity);
  if (length != 0 && length < kLongPathCapacity) {
    short_path.resize(length);
    host.names.push_back(FileName(short_path));
  }
  return host;
}

bool HasHostName(const wchar_t* process_name, const RunHostFile& host) {
  for (const std::wstring& name : host.names) {
    if (EqualsOrdinalIgnoringCase(process_name, name)) {
      return true;
    }
  }
  return false;
}

// Whether the image at `image_path` is the run's Host file. An image that cannot be identified
// may be that file: Failure 170.
bool IsImageOfRunHost(const std::wstring& image_path, const RunHostFile& host) {
  const std::optional<FileIdentity> image = IdentityOfFile(image_path);
  if (!image) {
    ThrowFailure(message::kHostPathUnknown, error::kBusy);
  }
  return host.identity && *image == *host.identity;
}

// Looks at one process of the snapshot; fails when it is a Host of the run folder that runs
// for a user, or one that cannot be told apart from such a Host.
void CheckListedProcess(const PROCESSENTRY32W& entry, const RunHostFile& host) {
  if (entry.th32ProcessID == ::GetCurrentProcessId() || !HasHostName(entry.szExeFile, host)) {
    return;
  }
  const UniqueHandle process(::OpenProcess(kHostProcessAccess, FALSE, entry.th32ProcessID));
  if (!process && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    return;  // it has gone since the snapshot
  }
  if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
    return;
  }
  std::wstring image_path = process ? GetProcessImagePath(process.get()) : std::wstring();
  if (image_path.empty()) {
    // Refused to be opened, or the handle does not tell: the system's list does.
    const std::optional<std::wstring> listed = ImagePathFromProcessId(entry.th32ProcessID);
    if (!listed) {
      return;  // it has ended
    }
    if (listed->empty()) {
      ThrowFailure(process ? message::kHostPathUnknown : message::kHostEndUnknown, error::kBusy);
    }
    image_path = *listed;
  }
  if (!IsImageOfRunHost(image_path, host)) {
    return;  // a program of that name from anywhere else
  }
  if (!process) {
    ThrowFailure(message::kHostEndUnknown, error::kBusy);
  }
  if (!IsLocalSystemProcess(process.get())) {
    ThrowFailure(message::kCloseHostFirst, error::kBusy);
  }
}

}  // namespace

bool IsRunFolderHost(const std::wstring& image_path, const std::wstring& run_folder) {
  const std::optional<FileIdentity> host =
      IdentityOfFile(JoinPath(run_folder, product::kHostFileName));
  const std::optional<FileIdentity> image =
      image_path.empty() ? std::nullopt : IdentityOfFile(image_path);
  return host && image && *host == *image;
}

void EnsureHostStopped(const std::wstring& run_folder) {
  const RunHostFile host = ReadRunHostFile(run_folder);
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
    CheckListedProcess(entry, host);
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
