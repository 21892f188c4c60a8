// What the launcher e2e tests share: a fresh copy of the real launcher in its own folder, and
// the texts the launcher builds from Windows' own error descriptions.
#pragma once

#include <string>
#include <vector>

#include "tests/support/box_watcher.h"
#include "tests/support/wine_driver.h"

namespace vexo::test {

inline constexpr std::uint32_t kLauncherTimeoutMs = 60000;

// The text of a failure box: the sentence, then the code line with the system's description.
inline std::wstring FailureBoxText(const std::wstring& sentence, DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const UniqueLocalMemory owner(buffer);
  const std::wstring description = length != 0 ? std::wstring(buffer, length) : L"";
  return sentence + L"\n오류 " + std::to_wstring(code) + (description.empty() ? L"" : L": ") +
         description;
}

// A copy of the built launcher, named as customers get it, in a fresh folder on C:.
class LauncherCopy {
 public:
  explicit LauncherCopy(const std::wstring& label)
      : folder_(label), path_(folder_.CopyIn(VEXO_LAUNCHER_IMAGE, L"Vexo-Host.exe")) {}

  const std::wstring& path() const { return path_; }
  const ScratchFolder& folder() const { return folder_; }
  ProgramStart Start(std::vector<std::wstring> arguments, TokenKind token) const {
    return {path_, std::move(arguments), token, folder_.path()};
  }
  ScriptedRun Run(std::vector<std::wstring> arguments,
                  BoxScript script = {},
                  TokenKind token = TokenKind::kFull) const {
    return RunWithBoxes(Start(std::move(arguments), token), std::move(script), kLauncherTimeoutMs);
  }

 private:
  ScratchFolder folder_;
  std::wstring path_;
};

}  // namespace vexo::test
