// The file layer on real files and folders under Wine, where the launcher's own runs do not
// reach: folder chain pins however a path is written and what they hold against, the refusals of
// the layer, the SHA-256 proof of a file, the strict and relaxed folder rules, and the deletion of
// a payload file that someone else holds.
//
// The folder rules run against real descriptors converted from SDDL (the owner rows name the
// trusted principals). What the main job shows through the real launcher is not repeated here
// (tests/e2e/main_job_test.cpp): a hard-linked, moved, replaced, changed or missing payload file,
// a payload folder that is a file, a link or unsecured, a tampered descriptor, a payload file
// already there at a deployment, a run folder holding a stranger, and payload files pinned while
// the Host runs. The local-path grammar is tested in tests/common/path_test.cpp; one row here
// shows that the chain pins apply it.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <functional>
#include <thread>
#include <tuple>

#include "common/error_codes.h"
#include "common/messages.h"
#include "common/path.h"
#include "fs/chain_pin.h"
#include "fs/file_identity.h"
#include "fs/folder_security.h"
#include "fs/messages.h"
#include "fs/protected_folder.h"
#include "payload/messages.h"
#include "payload/payload_check.h"
#include "payload/payload_file.h"
#include "run/run_placement.h"
#include "tests/common/catch_failure.h"
#include "tools/wine-bench/wine_driver.h"

// The run folder's DACL as the launcher writes it; as Windows stores it on a folder, the Users
// entry is split into its effective half and an inherit-only half with the generic rights.
#define RUN_DACL L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)"
#define SPLIT_BASE L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;BU)"

namespace vexo {
namespace {

// 65,537 bytes 'v': one read chunk and one byte more.
constexpr char kChunkAndOneDigest[] =
    "b3d4a80ef226c60808b1513ab3a1217ab0b0fbfa4154410a681796b2d6a64718";

UniqueHandle Open(const std::wstring& path, DWORD access, DWORD disposition = OPEN_EXISTING) {
  return UniqueHandle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, disposition, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// C:\vexo-tests\<scratch> is two levels below the root: both are pinned in order, never C:\,
// however the path is written.
TEST(PinFolderChainTest, EveryLevelBelowTheRootInOrder) {
  const test::ScratchFolder scratch;
  const std::vector<std::wstring> expected = {ParentPath(scratch.path()), scratch.path()};
  std::wstring upper = scratch.path();
  std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
  std::wstring forward = scratch.path();
  std::replace(forward.begin(), forward.end(), L'\\', L'/');
  for (const std::wstring& written : {scratch.path(), upper, forward, scratch.path() + L"\\"}) {
    DirectoryChainPin first = PinFolderChain(written, ChainSecurity::kIdentityOnly);
    const DirectoryChainPin pin = std::move(first);
    ASSERT_EQ(pin.size(), 2u) << testing::PrintToString(written);
    EXPECT_EQ(GetFinalPath(pin.handle(0)), expected[0]);
    EXPECT_EQ(GetFinalPath(pin.handle(1)), expected[1]);
    if (written == scratch.path()) {
      EXPECT_EQ(pin.paths(), expected);
    }
  }
}

// A held pin shares no delete access, so no level of it can be renamed or deleted: both fail
// with a sharing violation, and both work once the pin is released.
TEST(PinFolderChainTest, HeldLevelsRefuseRenameAndDeleteUntilReleased) {
#if !defined(VEXO_WINDOWS_RUNNER)
  GTEST_SKIP() << "Wine enforces no share modes on folders: a row of the Windows runner";
#endif
  const test::ScratchFolder scratch;
  ASSERT_TRUE(::CreateDirectoryW(scratch.Join(L"a").c_str(), nullptr));
  DirectoryChainPin pin = PinFolderChain(scratch.Join(L"a"), ChainSecurity::kIdentityOnly);
  // The new folder, then the scratch folder; C:\vexo-tests above them is shared with other tests.
  const std::vector<std::wstring> levels(pin.paths().rbegin(), pin.paths().rend() - 1);
  for (const DWORD expected : {DWORD{error::kSharingViolation}, DWORD{0}}) {
    for (const std::wstring& level : levels) {
      SCOPED_TRACE(test::ToUtf8(level));
      const std::wstring renamed = level + L"-renamed";
      EXPECT_EQ(::MoveFileW(level.c_str(), renamed.c_str()) ? 0 : ::GetLastError(), expected);
      const std::wstring& name = expected == 0 ? renamed : level;
      EXPECT_EQ(::RemoveDirectoryW(name.c_str()) ? 0 : ::GetLastError(), expected);
    }
    pin = DirectoryChainPin();
  }
}

// One row per refusal: each names its own reason, and a file is hashed from its start whatever
// its position, in chunks, and left rewound once it matches.
TEST(FileLayerTest, RefusalsAndTheFileDigest) {
  const test::ScratchFolder scratch;
  const std::wstring file_path = scratch.Join(L"f.bin");
  const UniqueHandle file = Open(file_path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.get(), std::string(65537, 'v').data(), 65537, &written, nullptr));
  const UniqueHandle write_only = Open(file_path, GENERIC_WRITE);
  const UniqueHandle unreadable = Open(scratch.path(), FILE_READ_ATTRIBUTES);
  const RunFolderDescriptor descriptor = ConvertRunFolderSddl();
  const auto chain = [](const std::wstring& path) {
    return [path] { PinFolderChain(path, ChainSecurity::kIdentityOnly); };
  };
  const auto digest = [](HANDLE handle, const char* expected) {
    return [=] { VerifyFileDigest(handle, expected); };
  };
  const auto unreadable_under = [&](FolderRule rule) {
    return [&, rule] { CheckFolderSecurity(unreadable.get(), rule); };
  };
  const std::wstring malformed = Refusal(error::kInvalidData, message::kDigestInfoInvalid);
  const std::wstring unread = Refusal(error::kAccessDenied, message::kFolderSecurityUnreadable);
  const std::pair<std::function<void()>, std::wstring> cases[] = {
      {chain(scratch.path() + L"\\..\\x"),
       Refusal(error::kBadPathname, message::kFolderPathInvalid)},
      {chain(L"\\\\server\\share\\folder"),
       Refusal(error::kBadPathname, message::kRunFromLocalFolder)},
      {chain(scratch.Join(L"missing")),
       Refusal(ERROR_FILE_NOT_FOUND, message::kExecutionPathNotPinned)},
      {chain(file_path), Refusal(error::kAccessDenied, message::kLinkedOrChangedPath)},
      // A run folder that exists already is never taken over.
      {[&] { OpenProtectedFolder(scratch.path(), descriptor.get(), ExistingFolder::kRefuse); },
       Refusal(error::kAlreadyExists, message::kProtectedFolderNotNew)},
      // An error other than "not found" is not taken for absence.
      {[&] { PathExists(scratch.Join(L"bad<name>.txt")); },
       Refusal(ERROR_INVALID_NAME, message::kCleanupTargetUnknown)},
      // A handle that may not read the descriptor, under either rule.
      {unreadable_under(FolderRule::kStrict), unread},
      {unreadable_under(FolderRule::kRelaxed), unread},
      // A compiled-in digest that is not 64 hex digits, one that differs in its last digit, a
      // handle that cannot read; then the match, wherever the last row left the file.
      {digest(file.get(), "b3d4a80ef226c60808b1513ab3a1217ab0b0fbfa4154410a681796b2d6a6471"),
       malformed},
      {digest(file.get(), nullptr), malformed},
      {digest(file.get(), "b3d4a80ef226c60808b1513ab3a1217ab0b0fbfa4154410a681796b2d6a64719"),
       Refusal(error::kInvalidData, message::kVersionMismatch)},
      {digest(write_only.get(), kChunkAndOneDigest),
       Refusal(ERROR_ACCESS_DENIED, message::kVerifiedFileReadFailed)},
      {digest(file.get(), kChunkAndOneDigest), L""},
  };
  for (const auto& [call, refusal] : cases) {
    EXPECT_EQ(RefusalOf(call), refusal);
  }
  EXPECT_EQ(::SetFilePointer(file.get(), 0, nullptr, FILE_CURRENT), 0u);
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
      {L"O:BAG:BAD:P" RUN_DACL L"(A;;FA;;;" VEXO_TI_SID L")", false, true},
      // owner TrustedInstaller
      {L"O:" VEXO_TI_SID L"G:BAD:P" RUN_DACL, false, true},
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
      // Users with write besides read and execute
      {L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGWGX;;;BU)", false, false},
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
// (present, but granting everyone everything) is built directly, with the run folder's owner;
// with the run folder's DACL the same descriptor passes.
TEST(FolderRuleTest, NullDaclFailsBothRules) {
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

#if defined(VEXO_EMULATED_FILE_SECURITY) || defined(VEXO_WINDOWS_RUNNER)

// A deployed payload file that another opener holds without delete sharing (a handle of this
// test: share modes apply to every open, whichever process holds it) is deleted once released
// within the retry limit; one held until the call gives up is kept, refused with the sharing
// violation after the limit has passed. The sample file comes from resource 101 of this program.
TEST(DeletePayloadFileTest, WaitsOutAShortHoldAndKeepsAFileHeldLonger) {
  const test::ScratchFolder store;
  const test::ScratchFolder scratch;
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VEXO_EMULATED_SECURITY_STORE", store.path().c_str()));
  const PayloadEntry sample{101, L"sample.txt", VEXO_TEST_PAYLOAD_DIGEST};
  const std::wstring path = scratch.Join(sample.relative_path);
  const std::tuple<DWORD, std::wstring, bool> cases[] = {
      {2000, L"", false},
      {INFINITE, Refusal(error::kSharingViolation, message::kFileNotOpenedForCleanup), true},
  };
  for (const auto& [hold_ms, refusal, kept] : cases) {
    DeployPayloadFile(scratch.path(), sample, ConvertRunFolderSddl().get()).reset();
    const ULONGLONG start = ::GetTickCount64();
    UniqueHandle held(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    std::jthread release([&held, hold_ms] {
      if (hold_ms != INFINITE) {
        ::Sleep(hold_ms);
        held.reset();
      }
    });
    EXPECT_EQ(RefusalOf([&] { DeletePayloadFile(scratch.path(), sample); }), refusal);
    EXPECT_EQ(::GetTickCount64() - start >= kDeleteRetryLimitMs, kept) << hold_ms;
    release.join();
    held.reset();
    EXPECT_EQ(PathExists(path), kept);
    ::DeleteFileW(path.c_str());
  }
}

#endif

// On NTFS the deletion takes POSIX semantics: the name is gone as soon as the deletion returns,
// though another handle that shares delete access still holds the file open. The legacy
// disposition would leave the name, refusing every open, until that handle closes.
TEST(DeletePayloadFileTest, NameGoesAtOnceWhileADeleteSharingHandleStaysOpen) {
#if !defined(VEXO_WINDOWS_RUNNER)
  GTEST_SKIP() << "Wine 8 has no POSIX delete semantics: a row of the Windows runner";
#endif
  const test::ScratchFolder scratch;
  const PayloadEntry sample{101, L"sample.txt", VEXO_TEST_PAYLOAD_DIGEST};
  const std::wstring path = scratch.Join(sample.relative_path);
  DeployPayloadFile(scratch.path(), sample, ConvertRunFolderSddl().get()).reset();
  const UniqueHandle held(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
  ASSERT_TRUE(held);
  EXPECT_EQ(RefusalOf([&] { DeletePayloadFile(scratch.path(), sample); }), L"");
  EXPECT_EQ(::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : 0,
            DWORD{ERROR_FILE_NOT_FOUND});
}

}  // namespace
}  // namespace vexo
