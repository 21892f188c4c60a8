// What the launcher e2e tests share: a fresh copy of the real launcher in its own folder, and
// the text of its failure boxes.
#pragma once

#include <string>
#include <vector>

#include "common/failure_text.h"
#include "tests/support/box_watcher.h"
#include "tools/wine-bench/wine_driver.h"

namespace vexo::test {

inline constexpr std::uint32_t kLauncherTimeoutMs = 60000;

// The text of a failure box, as the launcher builds it (its format is tested on its own in
// tests/common/failure_text_test.cpp).
inline std::wstring FailureBoxText(const std::wstring& sentence, DWORD code) {
  return FormatFailureText(Failure{code, sentence});
}

// A copy of the built launcher, named as customers get it, in a fresh folder on C:.
class LauncherCopy {
 public:
  explicit LauncherCopy(const std::wstring& label)
      : folder_(label), path_(folder_.CopyIn(InBuildTree(VEXO_LAUNCHER_IMAGE), L"Vexo-Host.exe")) {}

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
