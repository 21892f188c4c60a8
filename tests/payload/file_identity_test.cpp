// Handle identity, read pins and PathExists on real files and folders under Wine.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/error_codes.h"
#include "fs/file_identity.h"
#include "fs/file_pin.h"
#include "fs/messages.h"
#include "tests/common/catch_failure.h"
#include "tests/payload/other_opener.h"

namespace vexo {
namespace {

UniqueHandle Open(const std::wstring& path, DWORD disposition = OPEN_EXISTING) {
  const DWORD access =
      disposition == CREATE_NEW ? GENERIC_WRITE : READ_CONTROL | FILE_READ_ATTRIBUTES;
  return UniqueHandle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, disposition, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// "dir", "Single.TXT", and "file.txt" with a second hard link "link.txt".
TEST(FileIdentityTest, IdentityPinsAndExistence) {
  const test::ScratchFolder scratch;
  const auto at = [&](const wchar_t* name) { return scratch.Join(name); };
  ASSERT_TRUE(::CreateDirectoryW(at(L"dir").c_str(), nullptr));
  ASSERT_TRUE(Open(at(L"Single.TXT"), CREATE_NEW) && Open(at(L"file.txt"), CREATE_NEW));
  ASSERT_TRUE(::CreateHardLinkW(at(L"link.txt").c_str(), at(L"file.txt").c_str(), nullptr));
  const std::wstring linked = Refusal(error::kAccessDenied, message::kLinkedOrChangedPath);
  const struct {
    const wchar_t* opened;
    std::wstring expected;
    ObjectKind kind;
    std::wstring refusal;
  } identities[] = {
      {L"Single.TXT", at(L"Single.TXT"), ObjectKind::kFile, L""},
      {L"dir", at(L"DIR"), ObjectKind::kFolder, L""},  // letter case differs
      {L"Single.TXT", at(L"Single.TXT"), ObjectKind::kFolder, linked},
      {L"dir", at(L"dir"), ObjectKind::kFile, linked},
      {L"file.txt", at(L"file.txt"), ObjectKind::kFile, linked},  // a second hard link
      {L"Single.TXT", at(L"other.txt"), ObjectKind::kFile, linked},
      {L"dir", scratch.path(), ObjectKind::kFolder, linked},
  };
  for (const auto& c : identities) {
    const UniqueHandle handle = Open(at(c.opened));
    EXPECT_EQ(RefusalOf([&] { CheckHandleIdentity(handle.get(), c.expected, c.kind); }), c.refusal)
        << testing::PrintToString(c.expected);
  }
  // The final path drops the namespace prefix and keeps the case on disk.
  std::wstring upper = at(L"Single.TXT");
  std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
  EXPECT_EQ(GetFinalPath(Open(upper).get()), at(L"Single.TXT"));

  const std::pair<const wchar_t*, std::wstring> pins[] = {
      {L"missing.txt", Refusal(ERROR_FILE_NOT_FOUND, message::kFileNotPinned)},
      {L"file.txt", linked},
      {L"dir", Refusal(error::kAccessDenied, message::kFileNotPinned)},
  };
  for (const auto& [name, refusal] : pins) {
    EXPECT_EQ(RefusalOf([&] { PinFileForReading(at(name), PinSecurity::kIdentityOnly); }), refusal);
  }
  // A pinned file can be read by others but not written or deleted.
  {
    const UniqueHandle pin = PinFileForReading(upper, PinSecurity::kIdentityOnly);
    EXPECT_EQ(TryWrite(upper), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::DeleteFileW(upper.c_str()));
  }
  EXPECT_EQ(TryWrite(upper), 0u);

  EXPECT_TRUE(PathExists(at(L"dir")));
  EXPECT_FALSE(PathExists(at(L"missing\\file.txt")));
  EXPECT_NE(
      RefusalOf([&] { PathExists(at(L"bad<name>.txt")); }).find(message::kCleanupTargetUnknown),
      std::wstring::npos);
}

}  // namespace
}  // namespace vexo
