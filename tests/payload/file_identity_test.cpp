// Handle identity, read pins and PathExists on real files and folders under Wine.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/error_codes.h"
#include "fs/file_identity.h"
#include "fs/file_pin.h"
#include "fs/messages.h"
#include "tests/common/catch_failure.h"
#include "tests/payload/other_process.h"

namespace vexo {
namespace {

// "dir", "file.txt" and its second hard link "link.txt" in a scratch folder.
class FileIdentityTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::CreateDirectoryW(scratch_.Join(L"dir").c_str(), nullptr));
    ASSERT_TRUE(UniqueHandle(::CreateFileW(scratch_.Join(L"file.txt").c_str(), GENERIC_WRITE, 0,
                                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
    ASSERT_TRUE(UniqueHandle(::CreateFileW(scratch_.Join(L"Single.TXT").c_str(), GENERIC_WRITE, 0,
                                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
    ASSERT_TRUE(::CreateHardLinkW(scratch_.Join(L"link.txt").c_str(),
                                  scratch_.Join(L"file.txt").c_str(), nullptr));
  }
  UniqueHandle Open(const std::wstring& name) const {
    return UniqueHandle(::CreateFileW(scratch_.Join(name).c_str(),
                                      READ_CONTROL | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  }

  test::ScratchFolder scratch_;
};

TEST_F(FileIdentityTest, CheckHandleIdentity) {
  const struct {
    const wchar_t* opened;
    std::wstring expected;
    ObjectKind kind;
    bool accepted;
  } cases[] = {
      {L"Single.TXT", scratch_.Join(L"Single.TXT"), ObjectKind::kFile, true},
      {L"dir", scratch_.Join(L"DIR"), ObjectKind::kFolder, true},  // letter case differs
      {L"Single.TXT", scratch_.Join(L"Single.TXT"), ObjectKind::kFolder, false},
      {L"dir", scratch_.Join(L"dir"), ObjectKind::kFile, false},
      {L"file.txt", scratch_.Join(L"file.txt"), ObjectKind::kFile, false},  // second hard link
      {L"Single.TXT", scratch_.Join(L"other.txt"), ObjectKind::kFile, false},
      {L"dir", scratch_.path(), ObjectKind::kFolder, false},
  };
  for (const auto& c : cases) {
    const UniqueHandle handle = Open(c.opened);
    try {
      CheckHandleIdentity(handle.get(), c.expected, c.kind);
      EXPECT_TRUE(c.accepted) << testing::PrintToString(c.expected);
    } catch (const Failure& failure) {
      EXPECT_FALSE(c.accepted) << testing::PrintToString(c.expected);
      EXPECT_EQ(failure.code, error::kAccessDenied);
      EXPECT_EQ(failure.message, message::kLinkedOrChangedPath);
    }
  }
  // The final path drops the namespace prefix and keeps the case on disk.
  std::wstring upper = scratch_.Join(L"Single.TXT");
  std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
  const UniqueHandle opened_upper(
      ::CreateFileW(upper.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(GetFinalPath(opened_upper.get()), scratch_.Join(L"Single.TXT"));
}

TEST_F(FileIdentityTest, PinFileForReading) {
  const struct {
    const wchar_t* name;
    std::uint32_t code;
    const wchar_t* message;
  } refused[] = {
      {L"missing.txt", ERROR_FILE_NOT_FOUND, message::kFileNotPinned},
      {L"file.txt", error::kAccessDenied, message::kLinkedOrChangedPath},
      {L"dir", error::kAccessDenied, message::kFileNotPinned},
  };
  for (const auto& c : refused) {
    const Failure failure =
        CatchFailure([&] { PinFileForReading(scratch_.Join(c.name), PinSecurity::kIdentityOnly); });
    EXPECT_EQ(failure.code, c.code);
    EXPECT_EQ(failure.message, c.message);
  }
  // A pinned file can be read by others but not written or deleted.
  const std::wstring path = scratch_.Join(L"Single.TXT");
  {
    const UniqueHandle pin = PinFileForReading(path, PinSecurity::kIdentityOnly);
    EXPECT_EQ(TryWrite(path), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::DeleteFileW(path.c_str()));
  }
  EXPECT_EQ(TryWrite(path), 0u);
}

TEST_F(FileIdentityTest, PathExists) {
  EXPECT_TRUE(PathExists(scratch_.Join(L"file.txt")));
  EXPECT_TRUE(PathExists(scratch_.path()));
  EXPECT_FALSE(PathExists(scratch_.Join(L"missing\\file.txt")));
  const Failure failure = CatchFailure([&] { PathExists(scratch_.Join(L"bad<name>.txt")); });
  EXPECT_EQ(failure.message, message::kCleanupTargetUnknown);
  EXPECT_NE(failure.code, 0u);
}

}  // namespace
}  // namespace vexo
