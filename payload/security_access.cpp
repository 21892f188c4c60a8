// The product's access to file and folder security, straight through Windows.
#include "payload/security_access.h"

#include <aclapi.h>

namespace vexo {
namespace {

// Length 24 on x64, not inheritable; null descriptor means default security.
SECURITY_ATTRIBUTES AttributesFor(PSECURITY_DESCRIPTOR descriptor) {
  return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
}

}  // namespace

DWORD ReadObjectSecurity(HANDLE object, UniqueLocalMemory& descriptor) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD error = ::GetSecurityInfo(object, SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, nullptr, &dacl, nullptr, &read);
  descriptor.reset(read);
  return error;
}

bool CreateFolderWithDescriptor(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_ATTRIBUTES attributes = AttributesFor(descriptor);
  return ::CreateDirectoryW(path.c_str(), descriptor != nullptr ? &attributes : nullptr) != FALSE;
}

UniqueHandle CreateFileWithDescriptor(const std::wstring& path,
                                      DWORD desired_access,
                                      DWORD share_mode,
                                      DWORD flags_and_attributes,
                                      PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_ATTRIBUTES attributes = AttributesFor(descriptor);
  return UniqueHandle(::CreateFileW(path.c_str(), desired_access, share_mode,
                                    descriptor != nullptr ? &attributes : nullptr, CREATE_NEW,
                                    flags_and_attributes, nullptr));
}

bool SetDeleteDisposition(HANDLE object) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(object, FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != FALSE;
}

}  // namespace vexo
