// A fresh folder for one test under C:\vexo-tests\, removed with everything in it when the
// test is done. Launchers under test run from a copy in such a folder, so no test sees what
// another left behind.
#pragma once

#include <string>

namespace vexo::test {

inline constexpr wchar_t kScratchRoot[] = L"C:\\vexo-tests";

class ScratchFolder {
 public:
  // Creates C:\vexo-tests\<label>-<random hex>; the folder did not exist before.
  explicit ScratchFolder(const std::wstring& label = L"test");
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder();

  const std::wstring& path() const { return path_; }
  // path() + "\" + name
  std::wstring PathOf(const std::wstring& name) const;
  // Copies `source` into the folder under `name` and returns the new path.
  std::wstring CopyIn(const std::wstring& source, const std::wstring& name) const;

 private:
  std::wstring path_;
};

// Removes `path` and everything below it. Links inside are removed, never followed. Read-only
// files are made writable first. Returns false when something could not be removed.
bool RemoveTree(const std::wstring& path);

}  // namespace vexo::test
