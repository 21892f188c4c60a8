// The file layer on real files and folders under Wine: handle identity, read pins, folder chain
// pins, PathExists and the SHA-256 proof of files. The local-path grammar the chain pins apply is
// tested in tests/common/path_test.cpp; one row here shows that it is applied. That a damaged or
// missing payload resource stops the launcher is shown end to end
// (tests/e2e/launcher_modes_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>

#include "common/error_codes.h"
#include "common/messages.h"
#include "common/path.h"
#include "fs/chain_pin.h"
#include "fs/file_identity.h"
#include "fs/file_pin.h"
#include "fs/messages.h"
#include "payload/messages.h"
#include "payload/payload_check.h"
#include "tests/common/catch_failure.h"
#include "tests/payload/other_opener.h"
#include "tests/support/wine_driver.h"

namespace vexo {
namespace {

// Opens `path` for identity checks, or makes a new file to read and write.
UniqueHandle Open(const std::wstring& path, DWORD disposition = OPEN_EXISTING) {
  const DWORD access = disposition == CREATE_NEW ? GENERIC_READ | GENERIC_WRITE
                                                 : READ_CONTROL | FILE_READ_ATTRIBUTES;
  return UniqueHandle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, disposition, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

std::wstring Upper(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), ::towupper);
  return text;
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
  const std::wstring upper = Upper(at(L"Single.TXT"));
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

// C:\vexo-tests\<scratch> is two levels below the root: both are pinned in order, never C:\,
// however the path is written. Dots, a path that is not local, a missing folder and a file are
// refused; folders nobody secured carry Wine's answer (the user as owner), which the relaxed
// rule refuses.
TEST(PinFolderChainTest, EveryLevelBelowTheRootInOrderOrARefusal) {
  const test::ScratchFolder scratch;
  const std::vector<std::wstring> expected = {ParentPath(scratch.path()), scratch.path()};
  std::wstring forward = scratch.path();
  std::replace(forward.begin(), forward.end(), L'\\', L'/');
  for (const std::wstring& written :
       {scratch.path(), Upper(scratch.path()), forward, scratch.path() + L"\\"}) {
    DirectoryChainPin pin = PinFolderChain(written, ChainSecurity::kIdentityOnly);
    const DirectoryChainPin moved = std::move(pin);
    ASSERT_EQ(moved.size(), 2u) << testing::PrintToString(written);
    EXPECT_EQ(GetFinalPath(moved.handle(0)), expected[0]);
    EXPECT_EQ(GetFinalPath(moved.handle(1)), expected[1]);
    if (written == scratch.path()) {
      EXPECT_EQ(moved.paths(), expected);
    }
  }
  ASSERT_TRUE(Open(scratch.Join(L"file.txt"), CREATE_NEW));
  const std::pair<std::wstring, std::wstring> refused[] = {
      {scratch.path() + L"\\..\\x", Refusal(error::kBadPathname, message::kFolderPathInvalid)},
      {L"\\\\server\\share\\folder", Refusal(error::kBadPathname, message::kRunFromLocalFolder)},
      {scratch.Join(L"missing"), Refusal(ERROR_FILE_NOT_FOUND, message::kExecutionPathNotPinned)},
      {scratch.Join(L"file.txt"), Refusal(error::kAccessDenied, message::kLinkedOrChangedPath)},
  };
  for (const auto& [path, refusal] : refused) {
    EXPECT_EQ(RefusalOf([&] { PinFolderChain(path, ChainSecurity::kIdentityOnly); }), refusal);
  }
  EXPECT_EQ(RefusalOf([&] { PinFolderChain(scratch.path(), ChainSecurity::kRelaxedRule); }),
            Refusal(error::kAccessDenied, message::kFolderSecurityUnsafe));
}

// 65,537 bytes 'v': one read chunk and one byte more.
constexpr char kChunkAndOneDigest[] =
    "b3d4a80ef226c60808b1513ab3a1217ab0b0fbfa4154410a681796b2d6a64718";

// The file is hashed from its start whatever its position, in chunks, and left rewound once it
// matches.
// Compiled-in digests compare without regard to letter case; one that is not 64 hex digits is
// malformed; a handle that cannot read says so.
TEST(VerifyFileDigestTest, HashesTheWholeFileAndRewinds) {
  const test::ScratchFolder scratch;
  const UniqueHandle file = Open(scratch.Join(L"f.bin"), CREATE_NEW);
  const std::string content(65537, 'v');
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.get(), content.data(), 65537, &written, nullptr));
  const std::wstring malformed = Refusal(error::kInvalidData, message::kDigestInfoInvalid);
  // Refused first, so every row starts where the last one left the file.
  const std::pair<const char*, std::wstring> cases[] = {
      {"b3d4a80ef226c60808b1513ab3a1217ab0b0fbfa4154410a681796b2d6a6471", malformed},
      {nullptr, malformed},
      {"b3d4a80ef226c60808b1513ab3a1217ab0b0fbfa4154410a681796b2d6a64719",
       Refusal(error::kInvalidData, message::kVersionMismatch)},
      {kChunkAndOneDigest, L""},
      {"B3D4A80EF226C60808B1513AB3A1217AB0B0FBFA4154410A681796B2D6A64718", L""},
  };
  for (const auto& [digest, refusal] : cases) {
    EXPECT_EQ(RefusalOf([&] { VerifyFileDigest(file.get(), digest); }), refusal);
  }
  EXPECT_EQ(::SetFilePointer(file.get(), 0, nullptr, FILE_CURRENT), 0u);
  const UniqueHandle write_only(::CreateFileW(scratch.Join(L"f.bin").c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_EQ(RefusalOf([&] { VerifyFileDigest(write_only.get(), kChunkAndOneDigest); }),
            Refusal(ERROR_ACCESS_DENIED, message::kVerifiedFileReadFailed));
}

}  // namespace
}  // namespace vexo
