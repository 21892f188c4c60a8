// A fresh, empty folder on drive C: for one test, removed with everything in it afterwards.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "common/failure.h"

namespace vexo {

class ScratchFolder {
 public:
  ScratchFolder() {
    static unsigned counter = 0;
    ::CreateDirectoryW(kParent, nullptr);
    path_ = std::wstring(kParent) + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(++counter);
    if (!::CreateDirectoryW(path_.c_str(), nullptr)) {
      ThrowFailure(L"scratch folder", ::GetLastError());
    }
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::wstring& path() const { return path_; }
  std::wstring Join(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  static constexpr wchar_t kParent[] = L"C:\\vexo-tests";
  std::wstring path_;
};

}  // namespace vexo
