// What other openers of a file meet. Share modes apply to every open of a file, so handles of
// the test's own stand in for another process.
#pragma once

#include <thread>

#include "tests/support/wine_driver.h"

namespace vexo {

// 0, or the Windows error of opening `path` for writing with full sharing.
inline DWORD TryWrite(const std::wstring& path) {
  const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file ? 0 : ::GetLastError();
}

// A reader holding `path` without write or delete sharing for `milliseconds` from its start.
class FileHeldByOtherHandle {
 public:
  FileHeldByOtherHandle(const std::wstring& path, DWORD milliseconds)
      : file_(::CreateFileW(path.c_str(),
                            GENERIC_READ,
                            FILE_SHARE_READ,
                            nullptr,
                            OPEN_EXISTING,
                            0,
                            nullptr)),
        release_([this, milliseconds] {
          ::Sleep(milliseconds);
          file_.reset();
        }) {}
  ~FileHeldByOtherHandle() { release_.join(); }
  bool held() const { return file_.valid(); }

 private:
  UniqueHandle file_;
  std::thread release_;
};

}  // namespace vexo
