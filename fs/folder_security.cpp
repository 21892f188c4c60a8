#include "fs/folder_security.h"

#include <sddl.h>

#include <array>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "fs/messages.h"
#include "fs/security_access.h"

namespace vexo {
namespace {

// One of the three allow entries the strict rule requires, each exactly once.
struct StrictEntry {
  WELL_KNOWN_SID_TYPE sid;
  ACCESS_MASK mask;
};

constexpr std::array<StrictEntry, 3> kStrictEntries = {{
    {WinLocalSystemSid, kFullAccessMask},
    {WinBuiltinAdministratorsSid, kFullAccessMask},
    {WinBuiltinUsersSid, kUsersReadExecuteMask},
}};

constexpr BYTE kInheritOnlyFlag = INHERIT_ONLY_ACE;  // 0x08

// An entry may carry generic rights; what it grants on a file or folder is their mapping
// to file rights (GRGX becomes 0x001200A9, GA becomes 0x001F01FF).
ACCESS_MASK GrantedFileRights(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  ::MapGenericMask(&mask, &mapping);
  return mask &
         ~static_cast<ACCESS_MASK>(GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
}

// Generic all and generic write are write-type rights themselves.
bool IsWriting(ACCESS_MASK mask) {
  return (mask & kWriteTypeRights) != 0;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  return sid != nullptr && ::IsValidSid(sid) && ::IsWellKnownSid(sid, type);
}

bool IsTrustedInstaller(PSID sid) {
  UniqueLocalMemory trusted_installer;
  PSID converted = nullptr;
  if (!::ConvertStringSidToSidW(kTrustedInstallerSid, &converted)) {
    return false;  // a failed conversion counts as "not equal"
  }
  trusted_installer.reset(converted);
  return ::EqualSid(sid, converted) != FALSE;
}

// The allow entry at `index`, or null when the entry cannot be read, is of another type or
// names an invalid SID. `header` receives the entry's header either way.
const ACCESS_ALLOWED_ACE* AllowedEntry(PACL dacl, DWORD index, const ACE_HEADER*& header) {
  void* raw_entry = nullptr;
  header = nullptr;
  if (!::GetAce(dacl, index, &raw_entry) || raw_entry == nullptr) {
    return nullptr;
  }
  header = static_cast<const ACE_HEADER*>(raw_entry);
  if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
    return nullptr;
  }
  const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(raw_entry);
  return ::IsValidSid(const_cast<DWORD*>(&allowed->SidStart)) ? allowed : nullptr;
}

PSID SidOf(const ACCESS_ALLOWED_ACE* entry) {
  return const_cast<DWORD*>(&entry->SidStart);
}

// Relaxed: inherit-only entries and deny entries say nothing about who may change the folder
// itself; an allow entry that grants a write-type right must name a trusted principal.
bool RelaxedEntriesPass(PACL dacl) {
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    const ACE_HEADER* header = nullptr;
    const ACCESS_ALLOWED_ACE* allowed = AllowedEntry(dacl, index, header);
    if (header == nullptr) {
      return false;
    }
    if ((header->AceFlags & kInheritOnlyFlag) != 0) {
      continue;
    }
    if (allowed == nullptr) {
      if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
        continue;
      }
      return false;
    }
    if (IsWriting(allowed->Mask) && !IsTrustedPrincipal(SidOf(allowed))) {
      return false;
    }
  }
  return true;
}

// Strict: exactly the three allow entries, each once. On a folder, Windows stores the Users
// entry (inheritable, with generic rights) as two: the effective entry with the mapped rights
// and an inherit-only entry that keeps generic read and execute for what is created inside.
// That one split is accepted, and nothing looser.
bool StrictEntriesPass(PACL dacl) {
  std::array<bool, kStrictEntries.size()> seen{};
  bool users_inherit_only_seen = false;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    const ACE_HEADER* header = nullptr;
    const ACCESS_ALLOWED_ACE* allowed = AllowedEntry(dacl, index, header);
    if (allowed == nullptr) {
      return false;
    }
    if ((header->AceFlags & kInheritOnlyFlag) != 0) {
      if (users_inherit_only_seen || !IsWellKnown(SidOf(allowed), WinBuiltinUsersSid) ||
          allowed->Mask != kUsersInheritedGenericRights) {
        return false;
      }
      users_inherit_only_seen = true;
      continue;
    }
    bool matched = false;
    for (std::size_t i = 0; i < kStrictEntries.size() && !matched; ++i) {
      if (!seen[i] && IsWellKnown(SidOf(allowed), kStrictEntries[i].sid) &&
          GrantedFileRights(allowed->Mask) == kStrictEntries[i].mask) {
        seen[i] = true;
        matched = true;
      }
    }
    if (!matched) {
      return false;
    }
  }
  for (bool found : seen) {
    if (!found) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsTrustedPrincipal(PSID sid) {
  if (sid == nullptr || !::IsValidSid(sid)) {
    return false;
  }
  return ::IsWellKnownSid(sid, WinLocalSystemSid) ||
         ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsTrustedInstaller(sid);
}

bool OwnerAndDaclPassFolderRule(PSID owner,
                                PACL dacl,
                                SECURITY_DESCRIPTOR_CONTROL control,
                                FolderRule rule) {
  if (!IsTrustedPrincipal(owner) || dacl == nullptr || !::IsValidAcl(dacl)) {
    return false;
  }
  if (rule == FolderRule::kRelaxed) {
    return RelaxedEntriesPass(dacl);
  }
  return ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) &&
         (control & SE_DACL_PROTECTED) != 0 && StrictEntriesPass(dacl);
}

bool DescriptorPassesFolderRule(PSECURITY_DESCRIPTOR descriptor, FolderRule rule) {
  if (descriptor == nullptr || !::IsValidSecurityDescriptor(descriptor)) {
    return false;
  }
  PSID owner = nullptr;
  BOOL owner_defaulted = FALSE;
  BOOL dacl_present = FALSE;
  PACL dacl = nullptr;
  BOOL dacl_defaulted = FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &owner_defaulted) ||
      !::GetSecurityDescriptorDacl(descriptor, &dacl_present, &dacl, &dacl_defaulted) ||
      !::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    return false;
  }
  return OwnerAndDaclPassFolderRule(owner, dacl_present ? dacl : nullptr, control, rule);
}

void CheckFolderSecurity(HANDLE object, FolderRule rule) {
  UniqueLocalMemory descriptor;
  const DWORD error = ReadObjectSecurity(object, descriptor);
  if (error != ERROR_SUCCESS) {
    ThrowFailure(message::kFolderSecurityUnreadable, error);
  }
  const bool passes = DescriptorPassesFolderRule(descriptor.get(), rule);
  descriptor.reset();
  if (!passes) {
    ThrowFailure(message::kFolderSecurityUnsafe, error::kAccessDenied);
  }
}

}  // namespace vexo
