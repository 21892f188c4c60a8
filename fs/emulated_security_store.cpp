#include "fs/emulated_security_store.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "common/hex.h"
#include "common/path.h"

namespace vexo::emulated_security {
namespace {

constexpr DWORD kMaxRecordBytes = 64 * 1024;

[[noreturn]] void ThrowStoreError(const char* what) {
  const DWORD code = ::GetLastError();
  throw std::runtime_error(std::string("emulated file security store: ") + what + " (error " +
                           std::to_string(code) + ")");
}

std::wstring StoreFolder() {
  std::vector<wchar_t> buffer(kLongPathCapacity, L'\0');
  const DWORD length =
      ::GetEnvironmentVariableW(kStoreVariable, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) {
    return kDefaultStore;
  }
  return std::wstring(buffer.data(), length);
}

// The low `Bytes` bytes of `value` as hex digits, most significant first.
template <std::size_t Bytes>
std::wstring BigEndianHex(std::uint64_t value) {
  std::array<std::uint8_t, Bytes> bytes{};
  for (std::size_t i = 0; i < Bytes; ++i) {
    bytes[Bytes - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  return ToLowerHexWide(bytes);
}

// The record file of the object open as `object`: "<volume serial>-<file index>.sd".
std::wstring RecordPath(HANDLE object) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(object, &information)) {
    ThrowStoreError("object identity unreadable");
  }
  std::wstring path = StoreFolder();
  path.push_back(L'\\');
  path += BigEndianHex<4>(information.dwVolumeSerialNumber);
  path.push_back(L'-');
  path += BigEndianHex<8>((static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) |
                          information.nFileIndexLow);
  path += L".sd";
  return path;
}

// Self-relative bytes of any descriptor.
std::vector<BYTE> SelfRelativeBytes(PSECURITY_DESCRIPTOR descriptor) {
  if (!::IsValidSecurityDescriptor(descriptor)) {
    ThrowStoreError("descriptor invalid");
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    ThrowStoreError("descriptor control unreadable");
  }
  if ((control & SE_SELF_RELATIVE) != 0) {
    const DWORD length = ::GetSecurityDescriptorLength(descriptor);
    const auto* bytes = static_cast<const BYTE*>(descriptor);
    return std::vector<BYTE>(bytes, bytes + length);
  }
  DWORD length = 0;
  ::MakeSelfRelativeSD(descriptor, nullptr, &length);
  std::vector<BYTE> bytes(length);
  if (length == 0 || !::MakeSelfRelativeSD(descriptor, bytes.data(), &length)) {
    ThrowStoreError("descriptor not convertible");
  }
  return bytes;
}

constexpr ACCESS_MASK kGenericRights = GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE;
constexpr BYTE kInheritanceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE |
                                   NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE;

ACCESS_MASK MappedFileRights(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  ::MapGenericMask(&mask, &mapping);
  return mask & ~kGenericRights;
}

// Appends one allow or deny entry.
void AddEntry(PACL acl, BYTE type, BYTE flags, ACCESS_MASK mask, PSID sid) {
  const BOOL added = type == ACCESS_ALLOWED_ACE_TYPE
                         ? ::AddAccessAllowedAceEx(acl, ACL_REVISION, flags, mask, sid)
                         : ::AddAccessDeniedAceEx(acl, ACL_REVISION, flags, mask, sid);
  if (!added) {
    ThrowStoreError("entry not added");
  }
}

// Appends `entry` to `acl` as Windows stores it on an object of `kind`.
void AddStoredEntry(PACL acl, const ACE_HEADER* entry, ObjectKind kind) {
  if (entry->AceType != ACCESS_ALLOWED_ACE_TYPE && entry->AceType != ACCESS_DENIED_ACE_TYPE) {
    if (!::AddAce(acl, ACL_REVISION, MAXDWORD, const_cast<ACE_HEADER*>(entry), entry->AceSize)) {
      ThrowStoreError("entry not copied");
    }
    return;
  }
  // Allow and deny entries share their layout: header, mask, SID.
  const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(entry);
  PSID sid = const_cast<DWORD*>(&allowed->SidStart);
  const BYTE flags = entry->AceFlags;
  const ACCESS_MASK mask = allowed->Mask;
  const bool generic = (mask & kGenericRights) != 0;
  const bool inherit_only = (flags & INHERIT_ONLY_ACE) != 0;
  const bool inheritable = (flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) != 0;
  if (!generic || inherit_only) {
    AddEntry(acl, entry->AceType, flags, mask, sid);
  } else if (kind == ObjectKind::kFolder && inheritable) {
    AddEntry(acl, entry->AceType, static_cast<BYTE>(flags & ~kInheritanceFlags),
             MappedFileRights(mask), sid);
    AddEntry(acl, entry->AceType, static_cast<BYTE>(flags | INHERIT_ONLY_ACE), mask, sid);
  } else {
    AddEntry(acl, entry->AceType, flags, MappedFileRights(mask), sid);
  }
}

}  // namespace

UniqueLocalMemory StoredForm(PSECURITY_DESCRIPTOR descriptor, ObjectKind kind) {
  PSID owner = nullptr;
  PSID group = nullptr;
  BOOL defaulted = FALSE;
  BOOL dacl_present = FALSE;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::IsValidSecurityDescriptor(descriptor) ||
      !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !::GetSecurityDescriptorGroup(descriptor, &group, &defaulted) ||
      !::GetSecurityDescriptorDacl(descriptor, &dacl_present, &dacl, &defaulted) ||
      !::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    ThrowStoreError("descriptor unreadable");
  }
  // Every entry becomes at most two of at most its own size.
  std::vector<DWORD> stored_dacl;
  if (dacl != nullptr) {
    stored_dacl.assign((2u * dacl->AclSize + sizeof(ACL)) / sizeof(DWORD) + 1, 0);
    auto* acl = reinterpret_cast<PACL>(stored_dacl.data());
    if (!::InitializeAcl(acl, static_cast<DWORD>(stored_dacl.size() * sizeof(DWORD)),
                         ACL_REVISION)) {
      ThrowStoreError("DACL not initialised");
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
      void* entry = nullptr;
      if (!::GetAce(dacl, index, &entry)) {
        ThrowStoreError("entry unreadable");
      }
      AddStoredEntry(acl, static_cast<const ACE_HEADER*>(entry), kind);
    }
  }
  SECURITY_DESCRIPTOR absolute{};
  if (!::InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
      (owner != nullptr && !::SetSecurityDescriptorOwner(&absolute, owner, FALSE)) ||
      (group != nullptr && !::SetSecurityDescriptorGroup(&absolute, group, FALSE)) ||
      !::SetSecurityDescriptorDacl(&absolute, dacl_present,
                                   dacl != nullptr ? reinterpret_cast<PACL>(stored_dacl.data())
                                                   : nullptr,
                                   FALSE) ||
      !::SetSecurityDescriptorControl(&absolute, SE_DACL_PROTECTED, control & SE_DACL_PROTECTED)) {
    ThrowStoreError("descriptor not built");
  }
  const std::vector<BYTE> bytes = SelfRelativeBytes(&absolute);
  UniqueLocalMemory stored(::LocalAlloc(LMEM_FIXED, bytes.size()));
  if (!stored) {
    ThrowStoreError("no memory for descriptor");
  }
  ::CopyMemory(stored.get(), bytes.data(), bytes.size());
  return stored;
}

void RecordDescriptor(HANDLE object, PSECURITY_DESCRIPTOR descriptor) {
  const std::wstring record = RecordPath(object);
  const std::vector<BYTE> bytes = SelfRelativeBytes(descriptor);
  ::CreateDirectoryW(StoreFolder().c_str(), nullptr);
  UniqueHandle file(::CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    ThrowStoreError("record not created");
  }
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    ThrowStoreError("record not written");
  }
}

UniqueLocalMemory FindRecordedDescriptor(HANDLE object) {
  const std::wstring record = RecordPath(object);
  UniqueHandle file(::CreateFileW(record.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return UniqueLocalMemory();
    }
    ThrowStoreError("record not opened");
  }
  std::vector<BYTE> bytes(kMaxRecordBytes);
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes.data(), kMaxRecordBytes, &read, nullptr) || read == 0 ||
      read == kMaxRecordBytes) {
    ThrowStoreError("record not read");
  }
  UniqueLocalMemory descriptor(::LocalAlloc(LMEM_FIXED, read));
  if (!descriptor) {
    ThrowStoreError("no memory for record");
  }
  ::CopyMemory(descriptor.get(), bytes.data(), read);
  if (!::IsValidSecurityDescriptor(descriptor.get()) ||
      ::GetSecurityDescriptorLength(descriptor.get()) != read) {
    ThrowStoreError("record damaged");
  }
  return descriptor;
}

void DropRecord(HANDLE object) {
  const std::wstring record = RecordPath(object);
  if (!::DeleteFileW(record.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
      ::GetLastError() != ERROR_PATH_NOT_FOUND) {
    ThrowStoreError("record not dropped");
  }
}

}  // namespace vexo::emulated_security
