// Deployment and removal of payload files, with an embedded resource of this test program.
// Cases that need a trusted descriptor on disk run only in the emulated file security build.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include "common/error_codes.h"
#include "common/path.h"
#include "fs/file_identity.h"
#include "fs/messages.h"
#include "payload/messages.h"
#include "payload/payload_check.h"
#include "payload/payload_file.h"
#include "run/run_placement.h"
#include "tests/common/catch_failure.h"
#include "tests/payload/other_opener.h"

namespace vexo {
namespace {

const PayloadEntry kSample{101, L"sample.txt", VEXO_TEST_PAYLOAD_DIGEST};

std::string ReadAll(const std::wstring& path) {
  const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes(1 << 16, '\0');
  DWORD read = 0;
  ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  return bytes.substr(0, read);
}

void Write(const std::wstring& path, const std::string& bytes, DWORD disposition) {
  const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  ASSERT_TRUE(
      ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

std::string SampleBytes() {
  const PayloadView view = LoadVerifiedResource(kSample);
  return std::string(reinterpret_cast<const char*>(view.data), view.size);
}

// Every case runs with a store of its own, so tests never see each other's records.
class PayloadFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VEXO_EMULATED_SECURITY_STORE", store_.path().c_str()));
  }
  std::wstring Deploy(PSECURITY_DESCRIPTOR descriptor) {
    return RefusalOf([&] { DeployPayloadFile(run_.path(), kSample, descriptor); });
  }
  std::wstring Delete() {
    return RefusalOf([&] { DeletePayloadFile(run_.path(), kSample); });
  }

  test::ScratchFolder store_;
  test::ScratchFolder run_;
  const std::wstring path_ = JoinPath(run_.path(), kSample.relative_path);
  const RunFolderDescriptor descriptor_ = ConvertRunFolderSddl();
};

// A file already there is never overwritten; a new file refused by the strict rule while its
// write handle is still open does not stay behind half-made.
TEST_F(PayloadFileTest, DeploymentMakesOnlyNewTrustedFiles) {
  Write(path_, "somebody else's file", CREATE_NEW);
  EXPECT_EQ(Deploy(descriptor_.get()), Refusal(ERROR_FILE_EXISTS, message::kPayloadFileNotNew));
  EXPECT_EQ(ReadAll(path_), "somebody else's file");
  ASSERT_TRUE(::DeleteFileW(path_.c_str()));
  PSECURITY_DESCRIPTOR untrusted = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)(A;;FA;;;WD)", SDDL_REVISION_1,
      &untrusted, nullptr));
  const UniqueLocalMemory owner(untrusted);
  EXPECT_EQ(Deploy(untrusted), Refusal(error::kAccessDenied, message::kFolderSecurityUnsafe));
  EXPECT_FALSE(PathExists(path_));
}

TEST_F(PayloadFileTest, LinkedOrLongHeldFileIsKept) {
  Write(path_, SampleBytes(), CREATE_NEW);
  const std::wstring link = JoinPath(run_.path(), L"link.txt");
  ASSERT_TRUE(::CreateHardLinkW(link.c_str(), path_.c_str(), nullptr));
  EXPECT_EQ(Delete(), Refusal(error::kAccessDenied, message::kLinkedOrChangedPath));
  ASSERT_TRUE(::DeleteFileW(link.c_str()));
  const ULONGLONG start = ::GetTickCount64();
  std::wstring held;
  {
    const FileHeldByOtherHandle holder(path_, 7000);
    ASSERT_TRUE(holder.held());
    held = Delete();
  }
  EXPECT_EQ(held, Refusal(error::kSharingViolation, message::kFileNotOpenedForCleanup));
  EXPECT_GE(::GetTickCount64() - start, kDeleteRetryLimitMs);
  EXPECT_TRUE(PathExists(path_));
}

#if defined(VEXO_EMULATED_FILE_SECURITY)

// A deployed file is pinned while its handle lives, then deleted; one changed since is kept,
// and one held briefly is deleted on a retry.
TEST_F(PayloadFileTest, DeployedFileIsPinnedThenDeletedUnlessChanged) {
  {
    const UniqueHandle pinned = DeployPayloadFile(run_.path(), kSample, descriptor_.get());
    EXPECT_EQ(ReadAll(path_), SampleBytes());
    EXPECT_EQ(TryWrite(path_), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::DeleteFileW(path_.c_str()));
  }
  EXPECT_EQ(Delete(), L"");
  EXPECT_FALSE(PathExists(path_));

  DeployPayloadFile(run_.path(), kSample, descriptor_.get()).reset();
  const ULONGLONG start = ::GetTickCount64();
  {
    const FileHeldByOtherHandle holder(path_, 2000);
    ASSERT_TRUE(holder.held());
    EXPECT_EQ(Delete(), L"");
  }
  EXPECT_LT(::GetTickCount64() - start, kDeleteRetryLimitMs);

  DeployPayloadFile(run_.path(), kSample, descriptor_.get()).reset();
  Write(path_, "X", OPEN_EXISTING);
  EXPECT_EQ(Delete(), Refusal(error::kInvalidData, message::kVersionMismatch));
  std::string changed = SampleBytes();
  changed[0] = 'X';
  EXPECT_EQ(ReadAll(path_), changed);
}

#endif  // VEXO_EMULATED_FILE_SECURITY

}  // namespace
}  // namespace vexo
