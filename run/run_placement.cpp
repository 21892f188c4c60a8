#include "run/run_placement.h"

#include <bcrypt.h>
#include <knownfolders.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <array>
#include <cstdint>

#include "common/cng.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/hex.h"
#include "common/last_error.h"
#include "common/path.h"
#include "run/messages.h"
#include "run/run_id.h"

namespace vexo {
namespace {

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

std::wstring RunFolderPath(std::wstring_view run_id) {
  return JoinPath(GetBaseFolder(), run_id);
}

std::wstring NewRunId() {
  std::array<UCHAR, kRunIdBytes> bytes{};
  const CngFunctions* cng = Cng();
  if (cng == nullptr ||
      cng->gen_random(nullptr, bytes.data(), kRunIdBytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) {
    ThrowFailure(message::kRunIdNotCreated, error::kComFailure);
  }
  return ToLowerHexWide(bytes);
}

RunFolderDescriptor ConvertRunFolderSddl() {
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunFolderSddl, kSddlRevision,
                                                              &converted, nullptr)) {
    ThrowLastError(message::kRunFolderSecurityNotPrepared);
  }
  return RunFolderDescriptor(UniqueLocalMemory(converted));
}

}  // namespace vexo
