// box-sample.exe: a tiny GUI program that behaves like the launcher where the bench looks at
// it: it restricts library loading to the system folder first, shows message boxes with the
// product caption and reports through its exit code. See box_sample_protocol.h.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>

#include "common/handles.h"
#include "tests/support/box_sample_protocol.h"
#include "tests/support/message_box_driver.h"

namespace {

namespace sample = vexo::test::sample;

std::uint32_t ReportElevation() {
  vexo::UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return sample::kExitTokenUnreadable;
  }
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) {
    return sample::kExitTokenUnreadable;
  }
  return elevation.TokenIsElevated != 0 ? sample::kExitElevated : sample::kExitNotElevated;
}

bool ParseFlags(const wchar_t* text, UINT& flags) {
  wchar_t* end = nullptr;
  const unsigned long value = std::wcstoul(text, &end, 0);
  if (end == text || *end != L'\0' || value > 0xFFFFFFFFUL) {
    return false;
  }
  flags = static_cast<UINT>(value);
  return true;
}

std::uint32_t ShowBoxes(int argc, wchar_t** argv) {
  std::uint32_t last = sample::kExitBadCommandLine;
  for (int i = 1; i < argc; i += 3) {
    UINT flags = 0;
    if (i + 2 >= argc || std::wcscmp(argv[i], sample::kBoxSwitch) != 0 ||
        !ParseFlags(argv[i + 1], flags)) {
      return sample::kExitBadCommandLine;
    }
    const int pressed = ::MessageBoxW(nullptr, argv[i + 2], vexo::test::kProductBoxCaption, flags);
    if (pressed == 0) {
      return sample::kExitBoxFailed;
    }
    last = static_cast<std::uint32_t>(pressed);
  }
  return last;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Like the launcher: from here on libraries load from the system folder only, so the box
  // hook has to load by its full path.
  if (!::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return 5;
  }
  int argc = 0;
  const vexo::UniqueArgv argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  if (!argv || argc < 2) {
    return static_cast<int>(sample::kExitBadCommandLine);
  }
  if (argc == 2 && std::wcscmp(argv.get()[1], sample::kElevationSwitch) == 0) {
    return static_cast<int>(ReportElevation());
  }
  if (argc == 2 && std::wcscmp(argv.get()[1], sample::kHangSwitch) == 0) {
    ::Sleep(INFINITE);
  }
  return static_cast<int>(ShowBoxes(argc, argv.get()));
}
