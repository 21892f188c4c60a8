// Test tool for the emulated file security and for share-mode tests: seeds Program Files with
// the descriptor Windows gives it, sets any SDDL on any object (to tamper), shows records,
// and acts as "another process" that holds, writes or deletes a file.
//
//   vexo_security_tool seed-program-files
//   vexo_security_tool set PATH SDDL
//   vexo_security_tool show PATH
//   vexo_security_tool hold PATH MILLISECONDS READY_EVENT
//   vexo_security_tool try-write PATH
//   vexo_security_tool try-delete PATH
//
// Exit code: 0 on success, the Windows error of the failing call otherwise, 87 for usage.
#include <windows.h>

#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <exception>
#include <string>

#include "common/handles.h"
#include "fs/emulated_security_store.h"

namespace {

#define TRUSTED_INSTALLER L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"

// What Windows gives C:\Program Files: owner TrustedInstaller, a protected DACL, and
// inherit-only entries for what gets created inside.
constexpr wchar_t kProgramFilesSddl[] =
    L"O:" TRUSTED_INSTALLER L"G:" TRUSTED_INSTALLER L"D:PAI(A;;FA;;;" TRUSTED_INSTALLER
    L")(A;CIIO;GA;;;" TRUSTED_INSTALLER
    L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
    L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)"
    L"(A;OICIIO;GXGR;;;AC)(A;;0x1200a9;;;S-1-15-2-2)(A;OICIIO;GXGR;;;S-1-15-2-2)";

constexpr int kUsage = ERROR_INVALID_PARAMETER;

int LastError() {
  const DWORD error = ::GetLastError();
  return error == 0 ? ERROR_INVALID_DATA : static_cast<int>(error);
}

// Any object, file or folder, without taking any sharing away from others.
vexo::UniqueHandle OpenObject(const wchar_t* path) {
  return vexo::UniqueHandle(::CreateFileW(
      path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

int SetSddl(const wchar_t* path, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &converted,
                                                              nullptr)) {
    return LastError();
  }
  vexo::UniqueLocalMemory descriptor(converted);
  vexo::UniqueHandle object = OpenObject(path);
  if (!object) {
    return LastError();
  }
  vexo::emulated_security::RecordDescriptor(object.get(), descriptor.get());
  return 0;
}

int SeedProgramFiles() {
  PWSTR folder = nullptr;
  if (FAILED(::SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &folder))) {
    return ERROR_PATH_NOT_FOUND;
  }
  const std::wstring path(folder);
  ::CoTaskMemFree(folder);
  return SetSddl(path.c_str(), kProgramFilesSddl);
}

int Show(const wchar_t* path) {
  vexo::UniqueHandle object = OpenObject(path);
  if (!object) {
    return LastError();
  }
  vexo::UniqueLocalMemory descriptor =
      vexo::emulated_security::FindRecordedDescriptor(object.get());
  if (!descriptor) {
    std::wprintf(L"none\n");
    return 0;
  }
  LPWSTR sddl = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.get(), SDDL_REVISION_1,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &sddl, nullptr)) {
    return LastError();
  }
  vexo::UniqueLocalMemory text(sddl);
  std::wprintf(L"%ls\n", sddl);
  return 0;
}

// Holds the file open for reading, sharing only reading (no write, no delete), tells the
// caller through its event, then keeps it for the given time.
int Hold(const wchar_t* path, const wchar_t* milliseconds, const wchar_t* ready_event) {
  vexo::UniqueHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return LastError();
  }
  vexo::UniqueHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, ready_event));
  if (!ready || !::SetEvent(ready.get())) {
    return LastError();
  }
  ::Sleep(static_cast<DWORD>(std::wcstoul(milliseconds, nullptr, 10)));
  return 0;
}

int TryWrite(const wchar_t* path) {
  vexo::UniqueHandle file(::CreateFileW(path, GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file ? 0 : LastError();
}

int TryDelete(const wchar_t* path) {
  return ::DeleteFileW(path) ? 0 : LastError();
}

int Run(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"seed-program-files" && argc == 2) {
    return SeedProgramFiles();
  }
  if (command == L"set" && argc == 4) {
    return SetSddl(argv[2], argv[3]);
  }
  if (command == L"show" && argc == 3) {
    return Show(argv[2]);
  }
  if (command == L"hold" && argc == 5) {
    return Hold(argv[2], argv[3], argv[4]);
  }
  if (command == L"try-write" && argc == 3) {
    return TryWrite(argv[2]);
  }
  if (command == L"try-delete" && argc == 3) {
    return TryDelete(argv[2]);
  }
  std::fwprintf(stderr, L"usage: see the comment at the top of security_tool.cpp\n");
  return kUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return ERROR_INVALID_DATA;
  }
}
