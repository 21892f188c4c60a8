#include "deploy/host_environment.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "common/handles.h"
#include "common/path.h"
#include "common/product.h"

namespace vexo {
namespace {

constexpr DWORD kNameCapacity = 256;

std::wstring SystemAnswer(UINT(WINAPI* get)(LPWSTR, UINT)) {
  std::wstring folder(MAX_PATH, L'\0');
  const UINT length = get(folder.data(), MAX_PATH);
  folder.resize(length < MAX_PATH ? length : 0);
  return folder;
}

std::wstring WindowsFolder() {
  return SystemAnswer(::GetSystemWindowsDirectoryW);
}

std::wstring SystemFolder() {
  return SystemAnswer(::GetSystemDirectoryW);
}

// The folder without verifying that it exists, as the system has it for this process's account.
template <const KNOWNFOLDERID* Id>
std::wstring KnownFolder() {
  UniqueCoTaskString folder;
  if (FAILED(::SHGetKnownFolderPath(*Id, KF_FLAG_DONT_VERIFY, nullptr, folder.put())) || !folder) {
    return {};
  }
  return folder.get();
}

// A folder of a known one, empty when that is unknown.
std::wstring Below(const std::wstring& folder, std::wstring_view name) {
  return folder.empty() ? folder : JoinPath(folder, name);
}

// "C:" of "C:\...", and the rest.
std::pair<std::wstring, std::wstring> DriveAndRest(const std::wstring& path) {
  if (path.size() < 3 || path[1] != L':') {
    return {};
  }
  return {path.substr(0, 2), path.substr(2)};
}

std::wstring SystemPath() {
  const std::wstring system = SystemFolder();
  if (system.empty()) {
    return {};
  }
  return system + L';' + WindowsFolder() + L';' + JoinPath(system, L"Wbem") + L';' +
         JoinPath(system, L"WindowsPowerShell\\v1.0\\");
}

template <BOOL(WINAPI* Get)(LPWSTR, LPDWORD)>
std::wstring AccountName() {
  std::wstring name(kNameCapacity, L'\0');
  DWORD size = kNameCapacity;
  if (!Get(name.data(), &size)) {
    return {};
  }
  name.resize(std::min<DWORD>(size, kNameCapacity));
  name.resize(std::wstring_view(name.c_str()).size());  // GetUserNameW counts the terminator
  return name;
}

#if defined(VEXO_HOST_TEST_KNOBS)
// Test flavours only: the stand-in Host's knobs, which a test sets for the launcher, go on to the
// Host; no other variable of the launcher's environment does.
std::wstring StandInKnobs() {
  std::wstring knobs(kLongPathCapacity, L'\0');
  const DWORD length =
      ::GetEnvironmentVariableW(product::kHostTestKnobVariable, knobs.data(), kLongPathCapacity);
  knobs.resize(length < kLongPathCapacity ? length : 0);
  return knobs;
}
#endif

// The domain of the account this process runs as; the computer's name for a local account.
std::wstring AccountDomain() {
  UniqueHandle token;
  DWORD size = 0;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return {};
  }
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  // Pointer-sized elements keep the SID pointer inside the record aligned.
  std::vector<ULONG_PTR> user(size / sizeof(ULONG_PTR) + 1, 0);
  std::wstring name(kNameCapacity, L'\0');
  std::wstring domain(kNameCapacity, L'\0');
  DWORD name_size = kNameCapacity;
  DWORD domain_size = kNameCapacity;
  SID_NAME_USE use{};
  if (!::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size) ||
      !::LookupAccountSidW(nullptr, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid,
                           name.data(), &name_size, domain.data(), &domain_size, &use)) {
    return {};
  }
  domain.resize(domain_size);
  return domain;
}

struct HostVariable {
  const wchar_t* name;
  std::wstring (*value)();
};

// Every variable the Host gets, and where its value comes from. Nothing comes from the
// launcher's own environment.
constexpr HostVariable kHostVariables[] = {
    {L"ALLUSERSPROFILE", KnownFolder<&FOLDERID_ProgramData>},
    {L"APPDATA", KnownFolder<&FOLDERID_RoamingAppData>},
    {L"CommonProgramFiles", KnownFolder<&FOLDERID_ProgramFilesCommon>},
    {L"CommonProgramFiles(x86)", KnownFolder<&FOLDERID_ProgramFilesCommonX86>},
    {L"CommonProgramW6432", KnownFolder<&FOLDERID_ProgramFilesCommon>},
    {L"COMPUTERNAME", AccountName<::GetComputerNameW>},
    {L"ComSpec", [] { return Below(SystemFolder(), L"cmd.exe"); }},
    {L"HOMEDRIVE", [] { return DriveAndRest(KnownFolder<&FOLDERID_Profile>()).first; }},
    {L"HOMEPATH", [] { return DriveAndRest(KnownFolder<&FOLDERID_Profile>()).second; }},
    {L"LOCALAPPDATA", KnownFolder<&FOLDERID_LocalAppData>},
    {L"NUMBER_OF_PROCESSORS",
     [] { return std::to_wstring(::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)); }},
    {L"OS", [] { return std::wstring(L"Windows_NT"); }},
    {L"PATH", SystemPath},
    {L"PATHEXT",
     [] { return std::wstring(L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"); }},
    {L"PROCESSOR_ARCHITECTURE", [] { return std::wstring(L"AMD64"); }},
    {L"ProgramData", KnownFolder<&FOLDERID_ProgramData>},
    {L"ProgramFiles", KnownFolder<&FOLDERID_ProgramFiles>},
    {L"ProgramFiles(x86)", KnownFolder<&FOLDERID_ProgramFilesX86>},
    {L"ProgramW6432", KnownFolder<&FOLDERID_ProgramFiles>},
    {L"PUBLIC", KnownFolder<&FOLDERID_Public>},
    {L"SystemDrive", [] { return DriveAndRest(WindowsFolder()).first; }},
    {L"SystemRoot", WindowsFolder},
    {L"TEMP", [] { return Below(KnownFolder<&FOLDERID_LocalAppData>(), L"Temp"); }},
    {L"TMP", [] { return Below(KnownFolder<&FOLDERID_LocalAppData>(), L"Temp"); }},
    {L"USERDOMAIN", AccountDomain},
    {L"USERNAME", AccountName<::GetUserNameW>},
    {L"USERPROFILE", KnownFolder<&FOLDERID_Profile>},
    {L"windir", WindowsFolder},
#if defined(VEXO_HOST_TEST_KNOBS)
    {product::kHostTestKnobVariable, StandInKnobs},
#endif
};

// Windows keeps an environment block sorted by name, ignoring case, in ordinal order.
bool NameBefore(const HostVariable* a, const HostVariable* b) {
  return ::CompareStringOrdinal(a->name, -1, b->name, -1, TRUE) == CSTR_LESS_THAN;
}

}  // namespace

std::wstring HostEnvironmentBlock() {
  std::vector<const HostVariable*> sorted;
  for (const HostVariable& variable : kHostVariables) {
    sorted.push_back(&variable);
  }
  std::sort(sorted.begin(), sorted.end(), NameBefore);
  std::wstring block;
  for (const HostVariable* variable : sorted) {
    const std::wstring value = variable->value();
    if (!value.empty()) {
      block += variable->name;
      block += L'=';
      block += value;
      block += L'\0';
    }
  }
  block += L'\0';
  return block;
}

}  // namespace vexo
