// A child process for the waiting tests. What it does is chosen by its
// arguments:
//   sleep MS CODE       sleep MS milliseconds, then exit with CODE
//   send HWND MSG       SendMessageW(HWND, MSG) and exit with the result
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD kUsage = 0xBAD;

std::uint64_t Number(const wchar_t* text) {
  return std::wcstoull(text, nullptr, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  DWORD code = kUsage;
  if (mode == L"sleep" && argc == 4) {
    ::Sleep(static_cast<DWORD>(Number(argv[2])));
    code = static_cast<DWORD>(Number(argv[3]));
  } else if (mode == L"send" && argc == 4) {
    auto* window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(Number(argv[2])));
    code = static_cast<DWORD>(::SendMessageW(window, static_cast<UINT>(Number(argv[3])), 0, 0));
  }
  // ExitProcess carries the full 32 bits, which a return from wmain would not for every code.
  ::ExitProcess(code);
}
