#include "payload/run_folder.h"

#include <bcrypt.h>
#include <knownfolders.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <array>
#include <cstdint>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/path.h"
#include "payload/file_messages.h"

namespace vexo {
namespace {

// Strings the shell allocates with CoTaskMemAlloc.
struct CoTaskMemoryTraits {
  using Type = PWSTR;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type p) noexcept { return p != nullptr; }
  static void Close(Type p) noexcept { ::CoTaskMemFree(p); }
};
using UniqueCoTaskString = UniqueResource<CoTaskMemoryTraits>;

constexpr wchar_t kLowerHexDigits[] = L"0123456789abcdef";
constexpr DWORD kSddlRevision = SDDL_REVISION_1;

}  // namespace

std::wstring GetProgramFilesFolder() {
  UniqueCoTaskString folder;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, folder.put());
  if (FAILED(result) || !folder) {
    ThrowFailure(message::kProgramFilesUnknown, static_cast<std::uint32_t>(result) & 0xFFFFu);
  }
  return LexicallyNormal(folder.get());
}

std::wstring GetBaseFolder() {
  return JoinPath(GetProgramFilesFolder(), kBaseFolderName);
}

std::wstring NewRunId() {
  std::array<UCHAR, kRunIdBytes> bytes{};
  const NTSTATUS status =
      ::BCryptGenRandom(nullptr, bytes.data(), kRunIdBytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status < 0) {
    ThrowFailure(message::kRunIdNotCreated, error::kComFailure);
  }
  std::wstring run_id;
  run_id.reserve(kRunIdLength);
  for (UCHAR byte : bytes) {
    run_id.push_back(kLowerHexDigits[byte >> 4]);
    run_id.push_back(kLowerHexDigits[byte & 0x0F]);
  }
  return run_id;
}

RunFolderDescriptor ConvertRunFolderSddl() {
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunFolderSddl, kSddlRevision,
                                                              &converted, nullptr)) {
    const DWORD error = ::GetLastError();
    ThrowFailure(message::kRunFolderSecurityNotPrepared, error);
  }
  return RunFolderDescriptor(UniqueLocalMemory(converted));
}

}  // namespace vexo
