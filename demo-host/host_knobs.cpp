#include "demo-host/host_knobs.h"

#include <cwchar>

#include "common/handles.h"

namespace vexo::demo_host {
namespace {

constexpr wchar_t kKnobSeparator = L';';
constexpr wchar_t kValueSeparator = L'=';

// The knobs of a test build; a build without them reads no environment variable at all.
std::wstring KnobText() {
#if defined(VEXO_HOST_TEST_KNOBS)
  std::wstring text(GetEnvironmentVariableW(kKnobVariable, nullptr, 0), L'\0');
  const DWORD length =
      GetEnvironmentVariableW(kKnobVariable, text.data(), static_cast<DWORD>(text.size()));
  text.resize(length < text.size() ? length : 0);
  return text;
#else
  return {};
#endif
}

// The command line, the current folder, then every variable of the environment, one per line.
DWORD WriteReport(const std::wstring& path) {
  std::wstring text = GetCommandLineW();
  text += L'\n';
  std::wstring folder(MAX_PATH, L'\0');
  folder.resize(GetCurrentDirectoryW(MAX_PATH, folder.data()));
  text += folder + L'\n';
  const UniqueResource<NullableTraits<LPWCH, &FreeEnvironmentStringsW>> environment(
      GetEnvironmentStringsW());
  for (const wchar_t* variable = environment.get(); variable != nullptr && *variable != L'\0';
       variable += wcslen(variable) + 1) {
    text += variable;
    text += L'\n';
  }
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  const auto bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (!file || !WriteFile(file.get(), text.data(), bytes, &written, nullptr)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

// Starts a copy of this program that sleeps long after this one has ended.
DWORD StartOutlivingChild(const std::wstring& own_path) {
  std::wstring command_line = L"\"" + own_path + L"\" " + kOutlivingChildSwitch;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(own_path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return GetLastError();
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  return ERROR_SUCCESS;
}

}  // namespace

DWORD KnobNumber(const std::wstring& text) {
  return static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 0));
}

std::optional<std::wstring> Knob(std::wstring_view name) {
  const std::wstring text = KnobText();
  std::wstring_view rest = text;
  while (!rest.empty()) {
    const std::wstring_view knob = rest.substr(0, rest.find(kKnobSeparator));
    rest.remove_prefix(knob.size() < rest.size() ? knob.size() + 1 : rest.size());
    const std::size_t separator = knob.find(kValueSeparator);
    if (knob.substr(0, separator) == name) {
      return std::wstring(separator == knob.npos ? std::wstring_view{}
                                                 : knob.substr(separator + 1));
    }
  }
  return std::nullopt;
}

std::optional<DWORD> ApplyStartKnobs(const std::wstring& own_path) {
  if (const auto path = Knob(kReportKnob)) {
    if (const DWORD error = WriteReport(*path); error != ERROR_SUCCESS) {
      return error;
    }
  }
  if (Knob(kChildKnob)) {
    if (const DWORD error = StartOutlivingChild(own_path); error != ERROR_SUCCESS) {
      return error;
    }
  }
  if (const auto milliseconds = Knob(kSleepKnob)) {
    Sleep(KnobNumber(*milliseconds));
  }
  if (const auto code = Knob(kExitKnob)) {
    return KnobNumber(*code);
  }
  return std::nullopt;
}

DWORD RunOutlivingChild() {
  Sleep(kOutlivingChildMs);
  return ERROR_SUCCESS;
}

}  // namespace vexo::demo_host
