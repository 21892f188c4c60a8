// The strict and relaxed folder rules against real descriptors converted from SDDL (the owner
// rows name the trusted principals), and the rule applied to the security Wine reports for an
// object nobody has secured.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include "common/error_codes.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "run/run_placement.h"
#include "tests/common/catch_failure.h"
#include "tests/payload/known_descriptors.h"
#include "tests/support/wine_driver.h"

namespace vexo {
namespace {

#define SPLIT_BASE L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;BU)"

struct RuleCase {
  const char* name;
  const wchar_t* sddl;
  bool strict_passes;
  bool relaxed_passes;
};

const RuleCase kRuleCases[] = {
    {"run folder descriptor", L"O:BAG:BAD:P" RUN_DACL, true, true},
    {"same entries with mapped masks", L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", true,
     true},
    {"fourth entry: deny", L"O:BAG:BAD:P" RUN_DACL L"(D;;FA;;;WD)", false, true},
    {"fourth entry: untrusted write", L"O:BAG:BAD:P" RUN_DACL L"(A;;0x4;;;AU)", false, false},
    {"fourth entry: trusted write", L"O:BAG:BAD:P" RUN_DACL L"(A;;FA;;;" TI_SID L")", false, true},
    {"owner TrustedInstaller", L"O:" TI_SID L"G:BAD:P" RUN_DACL, false, true},
    {"owner LocalSystem", L"O:SYG:BAD:P" RUN_DACL, false, true},
    {"owner Users", L"O:BUG:BAD:P" RUN_DACL, false, false},
    {"owner missing", L"G:BAD:P" RUN_DACL, false, false},
    {"DACL not protected", L"O:BAG:BAD:" RUN_DACL, false, true},
    {"DACL missing", L"O:BAG:BA", false, false},
    {"empty DACL", L"O:BAG:BAD:P", false, true},
    {"LocalSystem twice", L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;SY)(A;OICI;GRGX;;;BU)", false,
     true},
    {"Administrators without full access",
     L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BA)(A;OICI;GRGX;;;BU)", false, true},
    {"Users with write", L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGW;;;BU)", false,
     false},
    {"Authenticated Users read and execute",
     L"O:BAG:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x001200A9;;;AU)", false, true},
    {"Authenticated Users read, execute and append",
     L"O:BAG:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x001200AD;;;AU)", false, false},
    {"Everyone generic write", L"O:BAD:P(A;;FA;;;SY)(A;;GW;;;WD)", false, false},
    {"inherit-only entry", L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GRGX;;;BU)",
     false, true},
    // A folder created with the run folder descriptor, as Windows stores it: the Users entry
    // split into its effective half and an inherit-only half with the generic rights.
    {"Users entry split on a folder", L"O:BAG:BAD:P" SPLIT_BASE L"(A;OICIIO;GRGX;;;BU)", true,
     true},
    {"split half with write", L"O:BAG:BAD:P" SPLIT_BASE L"(A;OICIIO;GRGXGW;;;BU)", false, true},
    {"split half for Everyone", L"O:BAG:BAD:P" SPLIT_BASE L"(A;OICIIO;GRGX;;;WD)", false, true},
    {"split half twice", L"O:BAG:BAD:P" SPLIT_BASE L"(A;OICIIO;GRGX;;;BU)(A;OICIIO;GRGX;;;BU)",
     false, true},
    {"inherit-only untrusted write", L"O:BAD:P(A;;FA;;;SY)(A;OICIIO;GA;;;WD)", false, true},
    {"Program Files", kProgramFilesSddl, false, true},
};

TEST(FolderRuleTest, StrictAndRelaxed) {
  for (const RuleCase& c : kRuleCases) {
    PSECURITY_DESCRIPTOR converted = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1,
                                                                       &converted, nullptr))
        << c.name;
    const UniqueLocalMemory descriptor(converted);
    EXPECT_EQ(DescriptorPassesFolderRule(converted, FolderRule::kStrict), c.strict_passes)
        << c.name;
    EXPECT_EQ(DescriptorPassesFolderRule(converted, FolderRule::kRelaxed), c.relaxed_passes)
        << c.name;
  }
}

// Wine's SDDL parser turns "D:NO_ACCESS_CONTROL" into an empty DACL, so the null DACL
// (present, but granting everyone everything) is built directly; with the run folder's DACL
// the same descriptor passes.
TEST(FolderRuleTest, NullDaclFailsBothRules) {
  SECURITY_DESCRIPTOR descriptor{};
  PSID administrators = nullptr;
  ASSERT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::ConvertStringSidToSidW(L"S-1-5-32-544", &administrators));
  const UniqueLocalMemory owner(administrators);
  ASSERT_TRUE(::SetSecurityDescriptorOwner(&descriptor, administrators, FALSE));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
  ASSERT_TRUE(::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED));
  EXPECT_FALSE(DescriptorPassesFolderRule(&descriptor, FolderRule::kStrict));
  EXPECT_FALSE(DescriptorPassesFolderRule(&descriptor, FolderRule::kRelaxed));
  const RunFolderDescriptor run = ConvertRunFolderSddl();
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL run_dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(run.get(), &present, &run_dacl, &defaulted));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, run_dacl, FALSE));
  EXPECT_TRUE(DescriptorPassesFolderRule(&descriptor, FolderRule::kStrict));
}

// An object never given a trusted descriptor carries Wine's answer, the user as owner: both
// rules refuse it. A handle that may not read the descriptor reports that.
TEST(CheckFolderSecurityTest, UnsecuredOrUnreadableFolderIsRefused) {
  const test::ScratchFolder scratch;
  const std::pair<DWORD, const wchar_t*> cases[] = {
      {READ_CONTROL | FILE_READ_ATTRIBUTES, message::kFolderSecurityUnsafe},
      {FILE_READ_ATTRIBUTES, message::kFolderSecurityUnreadable}};
  for (const auto& [access, sentence] : cases) {
    const UniqueHandle folder(::CreateFileW(scratch.path().c_str(), access,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    for (FolderRule rule : {FolderRule::kStrict, FolderRule::kRelaxed}) {
      EXPECT_EQ(RefusalOf([&] { CheckFolderSecurity(folder.get(), rule); }),
                Refusal(error::kAccessDenied, sentence));
    }
  }
}

}  // namespace
}  // namespace vexo
