// Protected folders with recorded descriptors (emulated file security build only): a run
// folder and its asset folders made with the run descriptor pass the strict rule, tampering
// is caught, Program Files seeded as Windows has it passes the relaxed rule only.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/path.h"
#include "fs/chain_pin.h"
#include "fs/file_identity.h"
#include "fs/file_pin.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "fs/protected_folder.h"
#include "fs/security_access.h"
#include "payload/payload_file.h"
#include "run/run_placement.h"
#include "tests/common/catch_failure.h"
#include "tests/common/scratch_folder.h"
#include "tests/security_tool/tool_runner.h"

namespace vexo {
namespace {

#define RUN_DACL L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)"

class EmulatedSecurityTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VEXO_EMULATED_SECURITY_STORE", store_.path().c_str()));
  }

  ScratchFolder store_;
  ScratchFolder base_;
  const RunFolderDescriptor descriptor_ = ConvertRunFolderSddl();
};

// Entries of the DACL recorded for `object`.
DWORD RecordedEntryCount(HANDLE object) {
  UniqueLocalMemory descriptor;
  EXPECT_EQ(ReadObjectSecurity(object, descriptor), static_cast<DWORD>(ERROR_SUCCESS));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  EXPECT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
  return dacl != nullptr ? dacl->AceCount : 0;
}

TEST_F(EmulatedSecurityTest, RunFoldersPassStrictUntilTampered) {
  const std::wstring run = JoinPath(base_.path(), NewRunId());
  const std::wstring assets = JoinPath(run, L"assets");
  const std::wstring fonts = JoinPath(run, L"assets\\fonts");
  UniqueHandle run_handle = OpenProtectedFolder(run, descriptor_.get(), ExistingFolder::kRefuse);
  UniqueHandle assets_handle =
      OpenProtectedFolder(assets, descriptor_.get(), ExistingFolder::kRefuse);
  UniqueHandle fonts_handle =
      OpenProtectedFolder(fonts, descriptor_.get(), ExistingFolder::kRefuse);
  // Stored as Windows stores a folder's descriptor: the Users entry split in two halves.
  EXPECT_EQ(RecordedEntryCount(run_handle.get()), 4u);

  struct TamperCase {
    const wchar_t* sddl;
  };
  const TamperCase tampers[] = {
      {L"O:BAG:BAD:P" RUN_DACL L"(A;;0x1200a9;;;AU)"},  // an added entry
      {L"O:BAG:BAD:" RUN_DACL},                         // protection removed
      {L"O:SYG:BAD:P" RUN_DACL},                        // another owner
  };
  for (const TamperCase& tamper : tampers) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(tamper.sddl)));
    ASSERT_EQ(RunSecurityTool(L"set " + Quoted(assets) + L" " + Quoted(tamper.sddl)), 0u);
    CheckFolderSecurity(run_handle.get(), FolderRule::kStrict);
    CheckFolderSecurity(fonts_handle.get(), FolderRule::kStrict);
    const Failure failure =
        CatchFailure([&] { CheckFolderSecurity(assets_handle.get(), FolderRule::kStrict); });
    EXPECT_EQ(failure.code, error::kAccessDenied);
    EXPECT_EQ(failure.message, message::kFolderSecurityUnsafe);
    const Failure reopened =
        CatchFailure([&] { OpenProtectedFolder(assets, nullptr, ExistingFolder::kReuse); });
    EXPECT_EQ(reopened.code, error::kAccessDenied);
  }
}

TEST_F(EmulatedSecurityTest, ExistingRunFolderIsNotReusedButTheBaseFolderIs) {
  const std::wstring run = JoinPath(base_.path(), NewRunId());
  OpenProtectedFolder(run, descriptor_.get(), ExistingFolder::kRefuse).reset();
  const Failure failure =
      CatchFailure([&] { OpenProtectedFolder(run, descriptor_.get(), ExistingFolder::kRefuse); });
  EXPECT_EQ(failure.code, error::kAlreadyExists);
  EXPECT_EQ(failure.message, message::kProtectedFolderNotNew);
  EXPECT_TRUE(OpenProtectedFolder(run, descriptor_.get(), ExistingFolder::kReuse));
}

TEST_F(EmulatedSecurityTest, FolderWithAnUnknownFileIsKept) {
  const std::wstring run = JoinPath(base_.path(), NewRunId());
  OpenProtectedFolder(run, descriptor_.get(), ExistingFolder::kRefuse).reset();
  const std::wstring unknown = JoinPath(run, L"unknown.txt");
  UniqueHandle file(::CreateFileW(unknown.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  file.reset();
  const Failure failure = CatchFailure([&] { DeleteProtectedFolder(run); });
  EXPECT_NE(failure.code, 0u);
  EXPECT_EQ(failure.message, message::kTemporaryFilesNotCleaned);
  EXPECT_TRUE(PathExists(unknown));
  ASSERT_TRUE(::DeleteFileW(unknown.c_str()));
  DeleteProtectedFolder(run);
  EXPECT_FALSE(PathExists(run));
}

// A folder nobody recorded keeps Wine's answer (the user as owner) and is refused.
TEST_F(EmulatedSecurityTest, UnrecordedFolderIsRefused) {
  const std::wstring plain = JoinPath(base_.path(), L"plain");
  ASSERT_TRUE(::CreateDirectoryW(plain.c_str(), nullptr));
  const Failure failure =
      CatchFailure([&] { OpenProtectedFolder(plain, nullptr, ExistingFolder::kReuse); });
  EXPECT_EQ(failure.code, error::kAccessDenied);
  EXPECT_EQ(failure.message, message::kFolderSecurityUnsafe);
}

TEST_F(EmulatedSecurityTest, SeededProgramFilesPassesRelaxedOnly) {
  ASSERT_EQ(RunSecurityTool(L"seed-program-files"), 0u);
  const std::wstring program_files = GetProgramFilesFolder();
  DirectoryChainPin pin = PinFolderChain(program_files, ChainSecurity::kRelaxedRule);
  ASSERT_EQ(pin.size(), 1u);
  const Failure failure =
      CatchFailure([&] { CheckFolderSecurity(pin.handle(0), FolderRule::kStrict); });
  EXPECT_EQ(failure.code, error::kAccessDenied);
  EXPECT_EQ(failure.message, message::kFolderSecurityUnsafe);
}

}  // namespace
}  // namespace vexo
