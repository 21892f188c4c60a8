// The file layer and the payload files on real files and folders under Wine: handle identity,
// read pins, folder chain pins, PathExists, the SHA-256 proof of files, the strict and relaxed
// folder rules, and payload files deployed into protected folders.
//
// The folder rules run against real descriptors converted from SDDL (the owner rows name the
// trusted principals), and against the security Wine reports for an object nobody has secured.
// The local-path grammar the chain pins apply is tested in tests/common/path_test.cpp; one row
// here shows that it is applied. Payload files are deployed from an embedded resource of this
// test program; that a damaged or missing payload resource stops the launcher is shown end to
// end (tests/e2e/launcher_test.cpp). Cases that need a trusted descriptor on disk run only in
// the emulated file security build, where every test has a store of its own: run folders made
// with the run descriptor pass the strict rule until tampered with.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <tuple>

#include "common/error_codes.h"
#include "common/messages.h"
#include "common/path.h"
#include "fs/chain_pin.h"
#include "fs/file_identity.h"
#include "fs/file_pin.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "fs/protected_folder.h"
#include "fs/security_access.h"
#include "payload/messages.h"
#include "payload/payload_check.h"
#include "payload/payload_file.h"
#include "run/run_placement.h"
#include "tests/common/catch_failure.h"
#include "tests/payload/other_opener.h"
#include "tests/support/wine_driver.h"

#if defined(VEXO_EMULATED_FILE_SECURITY)
#include "fs/emulated_security_store.h"
#endif

#define TI_SID L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
// The run folder's DACL as the launcher writes it; as Windows stores it on a folder, the Users
// entry is split into its effective half and an inherit-only half with the generic rights.
#define RUN_DACL L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)"
#define SPLIT_BASE L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;BU)"

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
// A compiled-in digest that is not 64 hex digits is malformed; a handle that cannot read says
// so.
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

UniqueLocalMemory Descriptor(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR converted = nullptr;
  EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                     &converted, nullptr))
      << testing::PrintToString(std::wstring(sddl));
  return UniqueLocalMemory(converted);
}

TEST(FolderRuleTest, StrictAndRelaxed) {
  // Rows: the descriptor, whether the strict rule passes it, whether the relaxed rule does.
  const std::tuple<const wchar_t*, bool, bool> cases[] = {
      // run folder descriptor
      {L"O:BAG:BAD:P" RUN_DACL, true, true},
      // fourth entry: deny
      {L"O:BAG:BAD:P" RUN_DACL L"(D;;FA;;;WD)", false, true},
      // fourth entry: untrusted write
      {L"O:BAG:BAD:P" RUN_DACL L"(A;;0x4;;;AU)", false, false},
      // fourth entry: trusted write
      {L"O:BAG:BAD:P" RUN_DACL L"(A;;FA;;;" TI_SID L")", false, true},
      // owner TrustedInstaller
      {L"O:" TI_SID L"G:BAD:P" RUN_DACL, false, true},
      // owner Users
      {L"O:BUG:BAD:P" RUN_DACL, false, false},
      // owner missing
      {L"G:BAD:P" RUN_DACL, false, false},
      // DACL not protected
      {L"O:BAG:BAD:" RUN_DACL, false, true},
      // DACL missing
      {L"O:BAG:BA", false, false},
      // empty DACL
      {L"O:BAG:BAD:P", false, true},
      // LocalSystem twice
      {L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;SY)(A;OICI;GRGX;;;BU)", false, true},
      // Administrators without full access
      {L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BA)(A;OICI;GRGX;;;BU)", false, true},
      // Users with write
      {L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGW;;;BU)", false, false},
      // Authenticated Users read and execute
      {L"O:BAG:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x001200A9;;;AU)", false, true},
      // Authenticated Users read, execute and append
      {L"O:BAG:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x001200AD;;;AU)", false, false},
      // Everyone generic write
      {L"O:BAD:P(A;;FA;;;SY)(A;;GW;;;WD)", false, false},
      // inherit-only entry
      {L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GRGX;;;BU)", false, true},
      // Users entry split on a folder
      {L"O:BAG:BAD:P" SPLIT_BASE L"(A;OICIIO;GRGX;;;BU)", true, true},
      // split half with write
      {L"O:BAG:BAD:P" SPLIT_BASE L"(A;OICIIO;GRGXGW;;;BU)", false, true},
      // split half for Everyone
      {L"O:BAG:BAD:P" SPLIT_BASE L"(A;OICIIO;GRGX;;;WD)", false, true},
      // inherit-only untrusted write
      {L"O:BAD:P(A;;FA;;;SY)(A;OICIIO;GA;;;WD)", false, true},
      // Program Files
      {test::kProgramFilesSddl, false, true},
  };
  for (const auto& [sddl, strict_passes, relaxed_passes] : cases) {
    const UniqueLocalMemory descriptor = Descriptor(sddl);
    EXPECT_EQ(DescriptorPassesFolderRule(descriptor.get(), FolderRule::kStrict), strict_passes)
        << testing::PrintToString(std::wstring(sddl));
    EXPECT_EQ(DescriptorPassesFolderRule(descriptor.get(), FolderRule::kRelaxed), relaxed_passes)
        << testing::PrintToString(std::wstring(sddl));
  }
}

// Wine's SDDL parser turns "D:NO_ACCESS_CONTROL" into an empty DACL, so the null DACL
// (present, but granting everyone everything) is built directly; with the run folder's DACL
// the same descriptor passes.
TEST(FolderRuleTest, NullDaclFailsBothRules) {
  // The run folder's owner (Administrators) and DACL, in a descriptor of this test's own.
  const RunFolderDescriptor run = ConvertRunFolderSddl();
  SECURITY_DESCRIPTOR descriptor{};
  PSID owner = nullptr;
  PACL run_dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
              ::GetSecurityDescriptorOwner(run.get(), &owner, &defaulted) &&
              ::GetSecurityDescriptorDacl(run.get(), &present, &run_dacl, &defaulted) &&
              ::SetSecurityDescriptorOwner(&descriptor, owner, FALSE) &&
              ::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) &&
              ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
  EXPECT_FALSE(DescriptorPassesFolderRule(&descriptor, FolderRule::kStrict));
  EXPECT_FALSE(DescriptorPassesFolderRule(&descriptor, FolderRule::kRelaxed));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, run_dacl, FALSE));
  EXPECT_TRUE(DescriptorPassesFolderRule(&descriptor, FolderRule::kStrict));
}

// A handle that may not read the descriptor is refused with its own message under either rule
// (an object nobody secured is refused by the chain pin rows above).
TEST(CheckFolderSecurityTest, UnreadableFolderIsRefused) {
  const test::ScratchFolder scratch;
  const UniqueHandle folder(::CreateFileW(scratch.path().c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  for (FolderRule rule : {FolderRule::kStrict, FolderRule::kRelaxed}) {
    EXPECT_EQ(RefusalOf([&] { CheckFolderSecurity(folder.get(), rule); }),
              Refusal(error::kAccessDenied, message::kFolderSecurityUnreadable));
  }
}

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
class SecuredFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VEXO_EMULATED_SECURITY_STORE", store_.path().c_str()));
  }
  std::wstring Deploy(PSECURITY_DESCRIPTOR descriptor) {
    return RefusalOf([&] { DeployPayloadFile(scratch_.path(), kSample, descriptor); });
  }
  std::wstring Delete() {
    return RefusalOf([&] { DeletePayloadFile(scratch_.path(), kSample); });
  }

  test::ScratchFolder store_;
  test::ScratchFolder scratch_;
  const std::wstring sample_ = JoinPath(scratch_.path(), kSample.relative_path);
  const RunFolderDescriptor descriptor_ = ConvertRunFolderSddl();
  const std::wstring unsafe_ = Refusal(error::kAccessDenied, message::kFolderSecurityUnsafe);
};

// A file already there is never overwritten. (A new file that fails while its write handle is
// still open does not stay behind half-made: the launcher's disk-full row in
// tests/e2e/main_job_test.cpp.)
TEST_F(SecuredFileTest, DeploymentMakesOnlyNewFiles) {
  Write(sample_, "somebody else's file", CREATE_NEW);
  EXPECT_EQ(Deploy(descriptor_.get()), Refusal(ERROR_FILE_EXISTS, message::kPayloadFileNotNew));
  EXPECT_EQ(ReadAll(sample_), "somebody else's file");
}

TEST_F(SecuredFileTest, LinkedOrLongHeldFileIsKept) {
  Write(sample_, SampleBytes(), CREATE_NEW);
  const std::wstring link = JoinPath(scratch_.path(), L"link.txt");
  ASSERT_TRUE(::CreateHardLinkW(link.c_str(), sample_.c_str(), nullptr));
  EXPECT_EQ(Delete(), Refusal(error::kAccessDenied, message::kLinkedOrChangedPath));
  ASSERT_TRUE(::DeleteFileW(link.c_str()));
  const ULONGLONG start = ::GetTickCount64();
  std::wstring held;
  {
    const FileHeldByOtherHandle holder(sample_, 7000);
    ASSERT_TRUE(holder.held());
    held = Delete();
  }
  EXPECT_EQ(held, Refusal(error::kSharingViolation, message::kFileNotOpenedForCleanup));
  EXPECT_GE(::GetTickCount64() - start, kDeleteRetryLimitMs);
  EXPECT_TRUE(PathExists(sample_));
}

#if defined(VEXO_EMULATED_FILE_SECURITY)

// Records `sddl` for `object` in the store, as the launcher's own creation does: a test
// tampers with it.
void Record(HANDLE object, const wchar_t* sddl) {
  emulated_security::RecordDescriptor(object, Descriptor(sddl).get());
}

// A deployed file is pinned while its handle lives, then deleted; one changed since is kept,
// and one held briefly is deleted on a retry.
TEST_F(SecuredFileTest, DeployedFileIsPinnedThenDeletedUnlessChanged) {
  {
    const UniqueHandle pinned = DeployPayloadFile(scratch_.path(), kSample, descriptor_.get());
    EXPECT_EQ(ReadAll(sample_), SampleBytes());
    EXPECT_EQ(TryWrite(sample_), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::DeleteFileW(sample_.c_str()));
  }
  EXPECT_EQ(Delete(), L"");
  EXPECT_FALSE(PathExists(sample_));

  DeployPayloadFile(scratch_.path(), kSample, descriptor_.get()).reset();
  const ULONGLONG start = ::GetTickCount64();
  {
    const FileHeldByOtherHandle holder(sample_, 2000);
    ASSERT_TRUE(holder.held());
    EXPECT_EQ(Delete(), L"");
  }
  EXPECT_LT(::GetTickCount64() - start, kDeleteRetryLimitMs);

  DeployPayloadFile(scratch_.path(), kSample, descriptor_.get()).reset();
  Write(sample_, "X", OPEN_EXISTING);
  EXPECT_EQ(Delete(), Refusal(error::kInvalidData, message::kVersionMismatch));
  std::string changed = SampleBytes();
  changed[0] = 'X';
  EXPECT_EQ(ReadAll(sample_), changed);
}

// A run folder and its asset folders made with the run descriptor pass the strict rule, stored
// as Windows stores a folder's descriptor (the Users entry split in two halves); tampering with
// one is caught in that one.
TEST_F(SecuredFileTest, RunFoldersPassStrictUntilTampered) {
  const std::wstring run = JoinPath(scratch_.path(), NewRunId());
  const std::wstring assets = JoinPath(run, L"assets");
  const auto create = [&](const std::wstring& path) {
    return OpenProtectedFolder(path, descriptor_.get(), ExistingFolder::kRefuse);
  };
  const UniqueHandle run_handle = create(run);
  const UniqueHandle assets_handle = create(assets);
  const UniqueHandle fonts = create(JoinPath(assets, L"fonts"));
  UniqueLocalMemory recorded;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_EQ(ReadObjectSecurity(run_handle.get(), recorded), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(::GetSecurityDescriptorDacl(recorded.get(), &present, &dacl, &defaulted));
  EXPECT_EQ(dacl->AceCount, 4u);
  for (const wchar_t* tampered : {L"O:BAG:BAD:P" RUN_DACL L"(A;;0x1200a9;;;AU)",  // added entry
                                  L"O:BAG:BAD:" RUN_DACL,                         // unprotected
                                  L"O:SYG:BAD:P" RUN_DACL}) {                     // other owner
    Record(assets_handle.get(), tampered);
    EXPECT_EQ(RefusalOf([&] { CheckFolderSecurity(run_handle.get(), FolderRule::kStrict); }), L"");
    EXPECT_EQ(RefusalOf([&] { CheckFolderSecurity(fonts.get(), FolderRule::kStrict); }), L"");
    EXPECT_EQ(RefusalOf([&] { CheckFolderSecurity(assets_handle.get(), FolderRule::kStrict); }),
              unsafe_);
    EXPECT_EQ(RefusalOf([&] { OpenProtectedFolder(assets, nullptr, ExistingFolder::kReuse); }),
              unsafe_);
  }
}

// A run folder is never taken over, but can be opened again; one holding an unknown file is
// kept until it is empty; one nobody recorded keeps Wine's answer (the user as owner).
TEST_F(SecuredFileTest, ExistingUnknownAndUnrecordedFolders) {
  const std::wstring run = JoinPath(scratch_.path(), NewRunId());
  OpenProtectedFolder(run, descriptor_.get(), ExistingFolder::kRefuse).reset();
  EXPECT_EQ(
      RefusalOf([&] { OpenProtectedFolder(run, descriptor_.get(), ExistingFolder::kRefuse); }),
      Refusal(error::kAlreadyExists, message::kProtectedFolderNotNew));
  EXPECT_TRUE(OpenProtectedFolder(run, descriptor_.get(), ExistingFolder::kReuse));
  const std::wstring unknown = JoinPath(run, L"unknown.txt");
  Write(unknown, "", CREATE_NEW);
  EXPECT_NE(RefusalOf([&] { DeleteProtectedFolder(run); }).find(message::kTemporaryFilesNotCleaned),
            std::wstring::npos);
  EXPECT_TRUE(PathExists(unknown));
  ASSERT_TRUE(::DeleteFileW(unknown.c_str()));
  DeleteProtectedFolder(run);
  EXPECT_FALSE(PathExists(run));
  ASSERT_TRUE(::CreateDirectoryW(run.c_str(), nullptr));
  EXPECT_EQ(RefusalOf([&] { OpenProtectedFolder(run, nullptr, ExistingFolder::kReuse); }), unsafe_);
}

#endif  // VEXO_EMULATED_FILE_SECURITY

}  // namespace
}  // namespace vexo
