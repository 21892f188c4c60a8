// Deployment and removal of payload files, with an embedded resource of this test program.
// Cases that need a trusted descriptor on disk run only in the emulated file security build.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <functional>
#include <string>
#include <vector>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/path.h"
#include "fs/file_identity.h"
#include "fs/file_pin.h"
#include "fs/messages.h"
#include "fs/protected_folder.h"
#include "payload/messages.h"
#include "payload/payload_check.h"
#include "payload/payload_file.h"
#include "run/run_placement.h"
#include "tests/common/catch_failure.h"
#include "tests/common/scratch_folder.h"
#include "tests/security_tool/tool_runner.h"

namespace vexo {
namespace {

const PayloadEntry kSample{101, L"sample.txt", VEXO_TEST_PAYLOAD_DIGEST};

std::string ReadAll(const std::wstring& path) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return "<unreadable>";
  }
  std::string bytes(1 << 16, '\0');
  DWORD read = 0;
  ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  bytes.resize(read);
  return bytes;
}

void WriteNew(const std::wstring& path, const std::string& bytes) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << ::GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(
      ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

std::string SampleBytes() {
  const PayloadView view = LoadVerifiedResource(kSample);
  return std::string(reinterpret_cast<const char*>(view.data), view.size);
}

UniqueLocalMemory DescriptorFromSddl(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &converted,
                                                              nullptr)) {
    ThrowFailure(L"SDDL", ::GetLastError());
  }
  return UniqueLocalMemory(converted);
}

// Every case runs with a store of its own, so tests never see each other's records.
class PayloadFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VEXO_EMULATED_SECURITY_STORE", store_.path().c_str()));
    run_folder_ = run_.path();
    path_ = JoinPath(run_folder_, kSample.relative_path);
  }

  ScratchFolder store_;
  ScratchFolder run_;
  std::wstring run_folder_;
  std::wstring path_;
};

TEST_F(PayloadFileTest, ExistingFileIsNeverOverwritten) {
  WriteNew(path_, "somebody else's file");
  const RunFolderDescriptor descriptor = ConvertRunFolderSddl();
  const Failure failure =
      CatchFailure([&] { DeployPayloadFile(run_folder_, kSample, descriptor.get()); });
  EXPECT_EQ(failure.code, static_cast<std::uint32_t>(ERROR_FILE_EXISTS));
  EXPECT_EQ(failure.message, message::kPayloadFileNotNew);
  EXPECT_EQ(ReadAll(path_), "somebody else's file");
}

// The new file is refused by the strict rule while its write handle is still open; it must
// not stay behind half-made.
TEST_F(PayloadFileTest, FailureBeforeTheWriteHandleClosesLeavesNoFile) {
  const UniqueLocalMemory untrusted = DescriptorFromSddl(
      L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)(A;;FA;;;WD)");
  const Failure failure =
      CatchFailure([&] { DeployPayloadFile(run_folder_, kSample, untrusted.get()); });
  EXPECT_EQ(failure.code, error::kAccessDenied);
  EXPECT_EQ(failure.message, message::kFolderSecurityUnsafe);
  EXPECT_FALSE(PathExists(path_));
}

TEST_F(PayloadFileTest, SecondHardLinkIsNotDeleted) {
  WriteNew(path_, SampleBytes());
  ASSERT_TRUE(
      ::CreateHardLinkW(JoinPath(run_folder_, L"link.txt").c_str(), path_.c_str(), nullptr));
  const Failure failure = CatchFailure([&] { DeletePayloadFile(run_folder_, kSample); });
  EXPECT_EQ(failure.code, error::kAccessDenied);
  EXPECT_EQ(failure.message, message::kLinkedOrChangedPath);
  EXPECT_TRUE(PathExists(path_));
}

TEST_F(PayloadFileTest, FileHeldLongerThanTheRetryLimitIsReported) {
  WriteNew(path_, SampleBytes());
  const ULONGLONG start = ::GetTickCount64();
  Failure failure{};
  {
    FileHeldByOtherProcess holder(path_, 7000);
    failure = CatchFailure([&] { DeletePayloadFile(run_folder_, kSample); });
  }
  EXPECT_EQ(failure.code, error::kSharingViolation);
  EXPECT_EQ(failure.message, message::kFileNotOpenedForCleanup);
  EXPECT_GE(::GetTickCount64() - start, kDeleteRetryLimitMs);
  EXPECT_TRUE(PathExists(path_));
}

#if defined(VEXO_EMULATED_FILE_SECURITY)

TEST_F(PayloadFileTest, DeployedFileIsPinnedAgainstOtherProcesses) {
  const RunFolderDescriptor descriptor = ConvertRunFolderSddl();
  {
    UniqueHandle pinned = DeployPayloadFile(run_folder_, kSample, descriptor.get());
    ASSERT_TRUE(pinned);
    EXPECT_EQ(ReadAll(path_), SampleBytes());
    EXPECT_EQ(RunSecurityTool(L"try-write " + Quoted(path_)), ERROR_SHARING_VIOLATION);
    EXPECT_NE(RunSecurityTool(L"try-delete " + Quoted(path_)), 0u);
    EXPECT_TRUE(PathExists(path_));
    // A second deployment of the same entry finds the file and leaves it alone.
    const Failure again =
        CatchFailure([&] { DeployPayloadFile(run_folder_, kSample, descriptor.get()); });
    EXPECT_EQ(again.message, message::kPayloadFileNotNew);
  }
  DeletePayloadFile(run_folder_, kSample);
  EXPECT_FALSE(PathExists(path_));
}

TEST_F(PayloadFileTest, ChangedFileIsKept) {
  const RunFolderDescriptor descriptor = ConvertRunFolderSddl();
  DeployPayloadFile(run_folder_, kSample, descriptor.get()).reset();
  {
    UniqueHandle file(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), "X", 1, &written, nullptr));
  }
  std::string expected = SampleBytes();
  expected[0] = 'X';
  const Failure failure = CatchFailure([&] { DeletePayloadFile(run_folder_, kSample); });
  EXPECT_EQ(failure.code, error::kInvalidData);
  EXPECT_EQ(failure.message, message::kVersionMismatch);
  EXPECT_EQ(ReadAll(path_), expected);
}

TEST_F(PayloadFileTest, FileHeldBrieflyIsDeletedOnARetry) {
  const RunFolderDescriptor descriptor = ConvertRunFolderSddl();
  DeployPayloadFile(run_folder_, kSample, descriptor.get()).reset();
  const ULONGLONG start = ::GetTickCount64();
  {
    FileHeldByOtherProcess holder(path_, 2000);
    DeletePayloadFile(run_folder_, kSample);
  }
  EXPECT_FALSE(PathExists(path_));
  EXPECT_LT(::GetTickCount64() - start, kDeleteRetryLimitMs);
}

#endif  // VEXO_EMULATED_FILE_SECURITY

}  // namespace
}  // namespace vexo
