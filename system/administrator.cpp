#include "system/administrator.h"

#include <windows.h>

#include <vector>

#include "common/handles.h"

namespace vexo {
namespace {

constexpr DWORD kHighIntegrityRid = 0x3000;
constexpr DWORD kMaxIntegrityLabelSize = 65536;
constexpr DWORD kAdministratorsSidSize = 68;  // SECURITY_MAX_SID_SIZE

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

}  // namespace

bool IsElevatedAdministrator() noexcept {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return false;
  }
  return TokenIsElevated(token.get()) && ThreadIsAdministratorsMember() &&
         TokenHasHighIntegrity(token.get());
}

}  // namespace vexo
