// Folder chain pins on real folders under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/messages.h"
#include "common/path.h"
#include "fs/chain_pin.h"
#include "fs/file_identity.h"
#include "fs/file_pin.h"
#include "fs/messages.h"
#include "fs/protected_folder.h"
#include "payload/payload_file.h"
#include "tests/common/scratch_folder.h"

namespace vexo {
namespace {

struct RefusedCase {
  const wchar_t* path;
  std::uint32_t code;
  const wchar_t* message;
};

TEST(PinFolderChainTest, RefusedPaths) {
  ScratchFolder scratch;
  const std::wstring file = scratch.Join(L"file.txt");
  UniqueHandle created(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(created);
  created.reset();
  const std::wstring dot = scratch.path() + L"\\.\\x";
  const std::wstring dot_dot = scratch.path() + L"\\..\\x";
  const std::wstring missing = scratch.Join(L"missing");
  const RefusedCase cases[] = {
      {dot.c_str(), error::kBadPathname, message::kFolderPathInvalid},
      {dot_dot.c_str(), error::kBadPathname, message::kFolderPathInvalid},
      {L"C:\\..", error::kBadPathname, message::kFolderPathInvalid},
      {L"\\\\server\\share\\folder", error::kBadPathname, message::kRunFromLocalFolder},
      {L"\\\\?\\C:\\windows", error::kBadPathname, message::kRunFromLocalFolder},
      {L"\\\\.\\C:\\windows", error::kBadPathname, message::kRunFromLocalFolder},
      {L"\\??\\C:\\windows", error::kBadPathname, message::kRunFromLocalFolder},
      {L"\\windows", error::kBadPathname, message::kRunFromLocalFolder},
      {L"C:windows", error::kBadPathname, message::kRunFromLocalFolder},
      {L"windows\\system32", error::kBadPathname, message::kRunFromLocalFolder},
      {missing.c_str(), ERROR_FILE_NOT_FOUND, message::kExecutionPathNotPinned},
      {file.c_str(), error::kAccessDenied, message::kLinkedOrChangedPath},
  };
  for (const RefusedCase& c : cases) {
    try {
      PinFolderChain(c.path, ChainSecurity::kIdentityOnly);
      ADD_FAILURE() << "pinned " << testing::PrintToString(std::wstring(c.path));
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code, c.code) << testing::PrintToString(std::wstring(c.path));
      EXPECT_EQ(failure.message, c.message) << testing::PrintToString(std::wstring(c.path));
    }
  }
}

// C:\vexo-tests\<scratch> is two levels below the root: the first level, then the folder,
// never C:\ itself.
TEST(PinFolderChainTest, OpensEveryLevelBelowTheRootInOrder) {
  ScratchFolder scratch;
  const std::wstring first_level = ParentPath(scratch.path());
  DirectoryChainPin pin = PinFolderChain(scratch.path(), ChainSecurity::kIdentityOnly);
  ASSERT_EQ(pin.size(), 2u);
  const std::vector<std::wstring> expected = {first_level, scratch.path()};
  EXPECT_EQ(pin.paths(), expected);
  for (std::size_t i = 0; i < pin.size(); ++i) {
    EXPECT_EQ(GetFinalPath(pin.handle(i)), expected[i]);
  }

  DirectoryChainPin moved = std::move(pin);
  EXPECT_EQ(pin.size(), 0u);
  EXPECT_EQ(moved.paths(), expected);
}

TEST(PinFolderChainTest, LetterCaseSeparatorsAndTrailingSeparatorAreAccepted) {
  ScratchFolder scratch;
  std::wstring upper = scratch.path();
  for (wchar_t& c : upper) {
    c = static_cast<wchar_t>(std::towupper(c));
  }
  EXPECT_EQ(PinFolderChain(upper, ChainSecurity::kIdentityOnly).size(), 2u);
  EXPECT_EQ(PinFolderChain(scratch.path() + L"\\", ChainSecurity::kIdentityOnly).size(), 2u);
  std::wstring forward = scratch.path();
  for (wchar_t& c : forward) {
    c = c == L'\\' ? L'/' : c;
  }
  EXPECT_EQ(PinFolderChain(forward, ChainSecurity::kIdentityOnly).size(), 2u);
}

// Folders nobody secured carry Wine's answer (the user as owner): the relaxed rule refuses
// them, and a partial pin is dropped.
TEST(PinFolderChainTest, SecurityCheckRefusesUnsecuredFolders) {
  ScratchFolder scratch;
  try {
    PinFolderChain(scratch.path(), ChainSecurity::kRelaxedRule);
    ADD_FAILURE() << "pinned";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.code, error::kAccessDenied);
    EXPECT_EQ(failure.message, message::kFolderSecurityUnsafe);
  }
}

}  // namespace
}  // namespace vexo
