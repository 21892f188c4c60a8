// The owner and DACL rules that decide whether a protected folder or file may be trusted.
//
// The strict rule is for everything a run owns (base folder, run folder, asset folders,
// payload files): owner BUILTIN\Administrators, a protected DACL of exactly three allow
// entries (LocalSystem and Administrators with full access, Users with read and execute), the
// Users entry possibly split by Windows into an effective and an inherit-only half.
// The relaxed rule is for the folders above (Program Files and its parents): a trusted
// owner, and no entry that lets an untrusted principal write.
#pragma once

#include <windows.h>

namespace vexo {

enum class FolderRule {
  kStrict,   // everything a run owns
  kRelaxed,  // the folders above a run
};

inline constexpr ACCESS_MASK kFullAccessMask = 0x001F01FF;
inline constexpr ACCESS_MASK kUsersReadExecuteMask = 0x001200A9;
// What the inherit-only half of a split Users entry keeps for the folder's children.
inline constexpr ACCESS_MASK kUsersInheritedGenericRights = GENERIC_READ | GENERIC_EXECUTE;
// Generic all, generic write, write owner, write DAC, delete, write attributes, delete
// child, write extended attributes, append data, write data.
inline constexpr ACCESS_MASK kWriteTypeRights = 0x500D0156;

inline constexpr wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// LocalSystem, BUILTIN\Administrators or TrustedInstaller. Null or invalid SIDs are not
// trusted.
bool IsTrustedPrincipal(PSID sid);

// The rule itself, on an owner, a DACL and the descriptor's control bits as read from an
// object. A null `dacl` is a missing (or null) DACL and fails both rules.
bool OwnerAndDaclPassFolderRule(PSID owner,
                                PACL dacl,
                                SECURITY_DESCRIPTOR_CONTROL control,
                                FolderRule rule);

// The same rule on a whole descriptor (self-relative or absolute).
bool DescriptorPassesFolderRule(PSECURITY_DESCRIPTOR descriptor, FolderRule rule);

// Reads the owner and DACL of `object` (opened with read-control access) and applies the
// strict or relaxed rule. Throws Failure with the Windows error when the read fails and
// Failure 5 when the rule rejects.
void CheckFolderSecurity(HANDLE object, FolderRule rule);

}  // namespace vexo
