// Where a run lives: the Program Files folder, the shared base folder, the run id that names
// a run folder, and the security descriptor every folder and file of a run is created with.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "common/handles.h"

namespace vexo {

inline constexpr wchar_t kBaseFolderName[] = L"Vexo Remote Support Portable";

// Owner and group BUILTIN\Administrators; a protected DACL: full access for LocalSystem and
// Administrators, read and execute for Users, each inherited by files and subfolders.
inline constexpr wchar_t kRunFolderSddl[] =
    L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)";

// The run folder descriptor, converted from kRunFolderSddl and released with LocalFree.
class RunFolderDescriptor {
 public:
  explicit RunFolderDescriptor(UniqueLocalMemory memory) noexcept : memory_(std::move(memory)) {}
  PSECURITY_DESCRIPTOR get() const noexcept { return memory_.get(); }

 private:
  UniqueLocalMemory memory_;
};

// The known folder Program Files in lexically normal form. Throws Failure with the low 16
// bits of the failing HRESULT.
std::wstring GetProgramFilesFolder();

// Program Files joined with kBaseFolderName.
std::wstring GetBaseFolder();

// The base folder joined with the run id.
std::wstring RunFolderPath(std::wstring_view run_id);

// 32 lowercase hex characters from 16 bytes of the system-preferred random generator.
// Throws Failure 31.
std::wstring NewRunId();

// Converts kRunFolderSddl (revision 1). Throws Failure with the Windows error.
RunFolderDescriptor ConvertRunFolderSddl();

}  // namespace vexo
