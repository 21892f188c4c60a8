// Protected folders with recorded descriptors (emulated file security build only): a run
// folder and its asset folders made with the run descriptor pass the strict rule, tampering
// is caught, Program Files seeded as Windows has it passes the relaxed rule only.
#include <gtest/gtest.h>

#include "common/error_codes.h"
#include "common/path.h"
#include "fs/chain_pin.h"
#include "fs/file_identity.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "fs/protected_folder.h"
#include "fs/security_access.h"
#include "run/run_placement.h"
#include "tests/common/catch_failure.h"
#include "tests/payload/other_process.h"

namespace vexo {
namespace {

#define RUN_DACL L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)"

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
};

TEST_F(EmulatedSecurityTest, RunFoldersPassStrictUntilTampered) {
  const std::wstring assets = JoinPath(run_, L"assets");
  const UniqueHandle run = Create(run_);
  const UniqueHandle assets_handle = Create(assets);
  const UniqueHandle fonts = Create(JoinPath(run_, L"assets\\fonts"));
  // Stored as Windows stores a folder's descriptor: the Users entry split in two halves.
  UniqueLocalMemory recorded;
  ASSERT_EQ(ReadObjectSecurity(run.get(), recorded), static_cast<DWORD>(ERROR_SUCCESS));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(recorded.get(), &present, &dacl, &defaulted));
  EXPECT_EQ(dacl->AceCount, 4u);
  for (const wchar_t* tampered : {L"O:BAG:BAD:P" RUN_DACL L"(A;;0x1200a9;;;AU)",  // added entry
                                  L"O:BAG:BAD:" RUN_DACL,                         // unprotected
                                  L"O:SYG:BAD:P" RUN_DACL}) {                     // other owner
    SCOPED_TRACE(testing::PrintToString(std::wstring(tampered)));
    ASSERT_EQ(RunTestctl({L"set-security", assets, tampered}), 0u);
    CheckFolderSecurity(run.get(), FolderRule::kStrict);
    CheckFolderSecurity(fonts.get(), FolderRule::kStrict);
    EXPECT_EQ(CatchFailure([&] {
                CheckFolderSecurity(assets_handle.get(), FolderRule::kStrict);
              }).message,
              message::kFolderSecurityUnsafe);
    EXPECT_EQ(
        CatchFailure([&] { OpenProtectedFolder(assets, nullptr, ExistingFolder::kReuse); }).code,
        error::kAccessDenied);
  }
}

TEST_F(EmulatedSecurityTest, ExistingRunFolderIsNotReusedButCanBeReopened) {
  Create(run_).reset();
  const Failure failure = CatchFailure([&] { Create(run_); });
  EXPECT_EQ(failure.code, error::kAlreadyExists);
  EXPECT_EQ(failure.message, message::kProtectedFolderNotNew);
  EXPECT_TRUE(OpenProtectedFolder(run_, descriptor_.get(), ExistingFolder::kReuse));
}

TEST_F(EmulatedSecurityTest, FolderWithAnUnknownFileIsKept) {
  Create(run_).reset();
  const std::wstring unknown = JoinPath(run_, L"unknown.txt");
  ASSERT_TRUE(UniqueHandle(::CreateFileW(unknown.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr)));
  EXPECT_EQ(CatchFailure([&] { DeleteProtectedFolder(run_); }).message,
            message::kTemporaryFilesNotCleaned);
  EXPECT_TRUE(PathExists(unknown));
  ASSERT_TRUE(::DeleteFileW(unknown.c_str()));
  DeleteProtectedFolder(run_);
  EXPECT_FALSE(PathExists(run_));
}

// A folder nobody recorded keeps Wine's answer (the user as owner) and is refused; Program
// Files as Windows has it passes the relaxed rule but not the strict one.
TEST_F(EmulatedSecurityTest, UnrecordedFolderAndProgramFiles) {
  ASSERT_TRUE(::CreateDirectoryW(run_.c_str(), nullptr));
  EXPECT_EQ(
      CatchFailure([&] { OpenProtectedFolder(run_, nullptr, ExistingFolder::kReuse); }).message,
      message::kFolderSecurityUnsafe);
  ASSERT_EQ(RunTestctl({L"seed-program-files"}), 0u);
  const DirectoryChainPin pin =
      PinFolderChain(GetProgramFilesFolder(), ChainSecurity::kRelaxedRule);
  ASSERT_EQ(pin.size(), 1u);
  EXPECT_EQ(CatchFailure([&] { CheckFolderSecurity(pin.handle(0), FolderRule::kStrict); }).message,
            message::kFolderSecurityUnsafe);
}

}  // namespace
}  // namespace vexo
