#include "launcher/elevation.h"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/last_error.h"
#include "common/path.h"
#include "deploy/messages.h"
#include "launcher/launch_request.h"
#include "launcher/messages.h"
#include "run/run_id.h"
#include "system/process_wait.h"

namespace vexo {
namespace {

constexpr DWORD kHighIntegrityRid = 0x3000;
constexpr DWORD kMaxIntegrityLabelSize = 65536;
constexpr DWORD kAdministratorsSidSize = 68;  // SECURITY_MAX_SID_SIZE

constexpr wchar_t kRunAsVerb[] = L"runas";

bool TokenIsElevated(HANDLE token) noexcept {
  TOKEN_ELEVATION elevation{};
  DWORD returned = 0;
  return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &returned) &&
         elevation.TokenIsElevated != 0;
}

bool ThreadIsAdministratorsMember() noexcept {
  BYTE sid_buffer[kAdministratorsSidSize] = {};
  DWORD sid_size = sizeof(sid_buffer);
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid_buffer, &sid_size)) {
    return false;
  }
  BOOL member = FALSE;
  return ::CheckTokenMembership(nullptr, sid_buffer, &member) && member;
}

bool TokenHasHighIntegrity(HANDLE token) noexcept {
  DWORD size = 0;
  ::GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  if (size == 0 || size > kMaxIntegrityLabelSize) {
    return false;
  }
  try {
    // DWORD elements keep the label's SID pointer properly aligned.
    std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    if (!::GetTokenInformation(token, TokenIntegrityLevel, buffer.data(), size, &size)) {
      return false;
    }
    const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data());
    PSID sid = label->Label.Sid;
    if (sid == nullptr || !::IsValidSid(sid)) {
      return false;
    }
    const UCHAR count = *::GetSidSubAuthorityCount(sid);
    if (count == 0) {
      return false;
    }
    return *::GetSidSubAuthority(sid, static_cast<DWORD>(count - 1)) >= kHighIntegrityRid;
  } catch (...) {
    return false;
  }
}

// The parameters of the elevated instance: the deployment switch, or the cleanup switch, one
// space and the run id. A run id is only ever 32 lower-case hex digits; anything else could
// smuggle further arguments into an elevated process, so it is refused here as well.
std::wstring ElevatedSwitchLine(const LaunchRequest& request) {
  if (request.mode != LaunchMode::kCleanupRequest) {
    return kSwitchPortableElevated;
  }
  const std::wstring& run_id = request.run_id;
  if (!IsRunId(run_id)) {
    ThrowFailure(message::kElevationCancelledOrFailed, error::kInvalidParameter);
  }
  std::wstring line = kSwitchCleanupElevated;
  line += L' ';
  line += run_id;
  return line;
}

}  // namespace

bool IsElevatedAdministrator() noexcept {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return false;
  }
  return TokenIsElevated(token.get()) && ThreadIsAdministratorsMember() &&
         TokenHasHighIntegrity(token.get());
}

std::uint32_t RelaunchElevated(std::wstring_view launcher_path, const LaunchRequest& request) {
  const std::wstring parameters = ElevatedSwitchLine(request);
  const std::wstring file(launcher_path);
  const std::wstring directory = ParentPath(launcher_path);

  SHELLEXECUTEINFOW info{};
  static_assert(sizeof(info) == 112, "SHELLEXECUTEINFOW must have the x64 layout");
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.hwnd = nullptr;
  info.lpVerb = kRunAsVerb;
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = directory.c_str();
  info.nShow = SW_HIDE;
  if (!::ShellExecuteExW(&info)) {
    ThrowLastError(message::kElevationCancelledOrFailed);
  }
  const DWORD start_error = ::GetLastError();
  UniqueHandle process(info.hProcess);
  if (!process) {
    ThrowFailure(message::kElevatedStartUnconfirmed, start_error);
  }
  return WaitForProcessPumping(process.get(), kNoTimeLimit, message::kRemoteSupportWait);
}

}  // namespace vexo
