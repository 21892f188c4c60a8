// Protected folders with recorded descriptors (emulated file security build only): a run
// folder and its asset folders made with the run descriptor pass the strict rule, tampering
// is caught, Program Files seeded as Windows has it passes the relaxed rule only.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include "common/error_codes.h"
#include "common/path.h"
#include "fs/chain_pin.h"
#include "fs/emulated_security_store.h"
#include "fs/file_identity.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "fs/protected_folder.h"
#include "fs/security_access.h"
#include "run/run_placement.h"
#include "tests/common/catch_failure.h"
#include "tests/payload/known_descriptors.h"
#include "tests/support/wine_driver.h"

namespace vexo {
namespace {

// Records `sddl` for `object` in the store, as the launcher's own creation does; tests use it
// to tamper and to give Program Files what Windows gives it.
void Record(HANDLE object, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
  const UniqueLocalMemory owner(descriptor);
  emulated_security::RecordDescriptor(object, descriptor);
}

class EmulatedSecurityTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VEXO_EMULATED_SECURITY_STORE", store_.path().c_str()));
  }
  UniqueHandle Create(const std::wstring& path) const {
    return OpenProtectedFolder(path, descriptor_.get(), ExistingFolder::kRefuse);
  }

  test::ScratchFolder store_;
  test::ScratchFolder base_;
  const RunFolderDescriptor descriptor_ = ConvertRunFolderSddl();
  const std::wstring run_ = JoinPath(base_.path(), NewRunId());
  const std::wstring unsafe_ = Refusal(error::kAccessDenied, message::kFolderSecurityUnsafe);
};

TEST_F(EmulatedSecurityTest, RunFoldersPassStrictUntilTampered) {
  const std::wstring assets = JoinPath(run_, L"assets");
  const UniqueHandle run = Create(run_);
  const UniqueHandle assets_handle = Create(assets);
  const UniqueHandle fonts = Create(JoinPath(run_, L"assets\\fonts"));
  // Stored as Windows stores a folder's descriptor: the Users entry split in two halves.
  UniqueLocalMemory recorded;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_EQ(ReadObjectSecurity(run.get(), recorded), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(::GetSecurityDescriptorDacl(recorded.get(), &present, &dacl, &defaulted));
  EXPECT_EQ(dacl->AceCount, 4u);
  for (const wchar_t* tampered : {L"O:BAG:BAD:P" RUN_DACL L"(A;;0x1200a9;;;AU)",  // added entry
                                  L"O:BAG:BAD:" RUN_DACL,                         // unprotected
                                  L"O:SYG:BAD:P" RUN_DACL}) {                     // other owner
    Record(assets_handle.get(), tampered);
    EXPECT_EQ(RefusalOf([&] { CheckFolderSecurity(run.get(), FolderRule::kStrict); }), L"");
    EXPECT_EQ(RefusalOf([&] { CheckFolderSecurity(fonts.get(), FolderRule::kStrict); }), L"");
    EXPECT_EQ(RefusalOf([&] { CheckFolderSecurity(assets_handle.get(), FolderRule::kStrict); }),
              unsafe_);
    EXPECT_EQ(RefusalOf([&] { OpenProtectedFolder(assets, nullptr, ExistingFolder::kReuse); }),
              unsafe_);
  }
}

// A run folder is never taken over, but can be opened again; one holding an unknown file is
// kept until it is empty; one nobody recorded keeps Wine's answer (the user as owner).
TEST_F(EmulatedSecurityTest, ExistingUnknownAndUnrecordedFolders) {
  Create(run_).reset();
  EXPECT_EQ(RefusalOf([&] { Create(run_); }),
            Refusal(error::kAlreadyExists, message::kProtectedFolderNotNew));
  EXPECT_TRUE(OpenProtectedFolder(run_, descriptor_.get(), ExistingFolder::kReuse));
  const std::wstring unknown = JoinPath(run_, L"unknown.txt");
  ASSERT_TRUE(UniqueHandle(::CreateFileW(unknown.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr)));
  EXPECT_NE(
      RefusalOf([&] { DeleteProtectedFolder(run_); }).find(message::kTemporaryFilesNotCleaned),
      std::wstring::npos);
  EXPECT_TRUE(PathExists(unknown));
  ASSERT_TRUE(::DeleteFileW(unknown.c_str()));
  DeleteProtectedFolder(run_);
  EXPECT_FALSE(PathExists(run_));
  ASSERT_TRUE(::CreateDirectoryW(run_.c_str(), nullptr));
  EXPECT_EQ(RefusalOf([&] { OpenProtectedFolder(run_, nullptr, ExistingFolder::kReuse); }),
            unsafe_);
}

TEST_F(EmulatedSecurityTest, SeededProgramFilesPassesRelaxedOnly) {
  const std::wstring program_files = GetProgramFilesFolder();
  const UniqueHandle folder(::CreateFileW(program_files.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  Record(folder.get(), kProgramFilesSddl);
  const DirectoryChainPin pin = PinFolderChain(program_files, ChainSecurity::kRelaxedRule);
  ASSERT_EQ(pin.size(), 1u);
  EXPECT_EQ(RefusalOf([&] { CheckFolderSecurity(pin.handle(0), FolderRule::kStrict); }), unsafe_);
}

}  // namespace
}  // namespace vexo
