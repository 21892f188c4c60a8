// A child process for the launcher's elevation and waiting tests. What it does is chosen by
// its arguments:
//   elevated            exit 0x100 + IsElevatedAdministrator() (0x100 false, 0x101 true)
//   exit CODE           exit with CODE at once
//   sleep MS CODE       sleep MS milliseconds, then exit with CODE
//   send HWND MSG       SendMessageW(HWND, MSG) and exit with the result
//   --anything ...      write the current directory and each argument, one per line, as
//                       UTF-16 to the file named by VEXO_CHILD_REPORT; exit 0xC0FFEE
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "common/handles.h"
#include "deploy/messages.h"
#include "launcher/elevation.h"
#include "system/process_wait.h"

namespace {

constexpr DWORD kUsage = 0xBAD;
constexpr DWORD kReported = 0xC0FFEE;
constexpr DWORD kReportFailed = 0xBADF11E;

std::uint64_t Number(const wchar_t* text) {
  return std::wcstoull(text, nullptr, 0);
}

DWORD WriteReport(int argc, wchar_t** argv) {
  wchar_t report_path[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"VEXO_CHILD_REPORT", report_path, MAX_PATH) == 0) {
    return kReportFailed;
  }
  wchar_t directory[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, directory);
  std::wstring text = directory;
  text += L'\n';
  for (int i = 1; i < argc; ++i) {
    text += argv[i];
    text += L'\n';
  }
  vexo::UniqueHandle file(::CreateFileW(report_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  const auto bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (!file || !::WriteFile(file.get(), text.data(), bytes, &written, nullptr) ||
      written != bytes) {
    return kReportFailed;
  }
  return kReported;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    return static_cast<int>(kUsage);
  }
  const std::wstring mode = argv[1];
  DWORD code = kUsage;
  if (mode == L"elevated" && argc == 2) {
    code = 0x100u + (vexo::IsElevatedAdministrator() ? 1u : 0u);
  } else if (mode == L"exit" && argc == 3) {
    code = static_cast<DWORD>(Number(argv[2]));
  } else if (mode == L"sleep" && argc == 4) {
    ::Sleep(static_cast<DWORD>(Number(argv[2])));
    code = static_cast<DWORD>(Number(argv[3]));
  } else if (mode == L"send" && argc == 4) {
    auto* window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(Number(argv[2])));
    code = static_cast<DWORD>(::SendMessageW(window, static_cast<UINT>(Number(argv[3])), 0, 0));
  } else if (mode.rfind(L"--", 0) == 0) {
    code = WriteReport(argc, argv);
  }
  // ExitProcess carries the full 32 bits, which a return from wmain would not for every code.
  ::ExitProcess(code);
}
