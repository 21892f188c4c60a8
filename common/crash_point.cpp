#include "common/crash_point.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "common/handles.h"

namespace vexo {
namespace {

constexpr wchar_t kCrashPointVariable[] = L"VEXO_TEST_CRASH_POINT";
constexpr wchar_t kCrashMarkerVariable[] = L"VEXO_TEST_CRASH_MARKER";
constexpr wchar_t kCrashPauseVariable[] = L"VEXO_TEST_CRASH_PAUSE";
constexpr DWORD kPausePollMs = 20;
constexpr ULONGLONG kPauseLimitMs = 120000;
constexpr wchar_t kPassSeparator = L'@';
constexpr DWORD kVariableCapacity = 1024;

std::wstring ReadVariable(const wchar_t* name) {
  std::wstring value(kVariableCapacity, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), kVariableCapacity);
  value.resize(length < kVariableCapacity ? length : 0);
  return value;
}

// The armed point's name and the pass it ends on; an empty name when nothing is armed.
struct ArmedPoint {
  std::wstring name;
  unsigned long pass = 1;
};

ArmedPoint ReadArmedPoint() {
  ArmedPoint armed{ReadVariable(kCrashPointVariable)};
  const std::size_t separator = armed.name.find(kPassSeparator);
  if (separator != std::wstring::npos) {
    armed.pass = std::wcstoul(armed.name.c_str() + separator + 1, nullptr, 10);
    armed.name.resize(separator);
  }
  return armed;
}

// The marker is written through and closed before the process ends or pauses.
void WriteMarker(const std::wstring& marker, std::wstring_view name) {
  if (marker.empty()) {
    return;
  }
  const UniqueHandle file(::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file.valid()) {
    return;
  }
  const std::string text(name.begin(), name.end());  // point names are ASCII
  DWORD written = 0;
  ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::FlushFileBuffers(file.get());
}

// True once the test has deleted the marker of a pause, false when it did not in time.
bool PausedUntilMarkerDeleted(const std::wstring& marker) {
  const ULONGLONG end = ::GetTickCount64() + kPauseLimitMs;
  while (::GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (::GetTickCount64() >= end) {
      return false;
    }
    ::Sleep(kPausePollMs);
  }
  return true;
}

}  // namespace

void CrashPoint(std::wstring_view name) {
  static const ArmedPoint armed = ReadArmedPoint();
  static unsigned long passes = 0;
  if (armed.name.empty() || name != armed.name || ++passes != armed.pass) {
    return;
  }
  const std::wstring marker = ReadVariable(kCrashMarkerVariable);
  WriteMarker(marker, name);
  if (!ReadVariable(kCrashPauseVariable).empty() && !marker.empty() &&
      PausedUntilMarkerDeleted(marker)) {
    return;
  }
  ::TerminateProcess(::GetCurrentProcess(), kCrashPointExitCode);
}

}  // namespace vexo
