// Replaces, for the lifetime of the object, the address this test program imports for one
// function, so a test can make a system call report what Wine never does (session 0, a
// failing query). Only the test program's own import table is touched.
#pragma once

#include <windows.h>

namespace vexo::test {

class ImportPatch {
 public:
  ImportPatch(const char* function_name, void* replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  bool applied() const { return slot_ != nullptr; }

 private:
  void Write(void* value);

  void** slot_ = nullptr;
  void* original_ = nullptr;
};

}  // namespace vexo::test
