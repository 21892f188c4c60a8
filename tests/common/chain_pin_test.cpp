// Folder chain pins on real folders under Wine. The local-path grammar they apply is tested in
// path_test.cpp; one row here shows that it is applied.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/error_codes.h"
#include "common/messages.h"
#include "common/path.h"
#include "fs/chain_pin.h"
#include "fs/file_identity.h"
#include "fs/messages.h"
#include "tests/common/catch_failure.h"
#include "tests/support/wine_driver.h"

namespace vexo {
namespace {

TEST(PinFolderChainTest, RefusedPaths) {
  const test::ScratchFolder scratch;
  ASSERT_TRUE(UniqueHandle(::CreateFileW(scratch.Join(L"file.txt").c_str(), GENERIC_WRITE, 0,
                                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
  const std::wstring dots = Refusal(error::kBadPathname, message::kFolderPathInvalid);
  const std::pair<std::wstring, std::wstring> cases[] = {
      {scratch.path() + L"\\.\\x", dots},
      {scratch.path() + L"\\..\\x", dots},
      {L"\\\\server\\share\\folder", Refusal(error::kBadPathname, message::kRunFromLocalFolder)},
      {scratch.Join(L"missing"), Refusal(ERROR_FILE_NOT_FOUND, message::kExecutionPathNotPinned)},
      {scratch.Join(L"file.txt"), Refusal(error::kAccessDenied, message::kLinkedOrChangedPath)},
  };
  for (const auto& [path, refusal] : cases) {
    EXPECT_EQ(RefusalOf([&] { PinFolderChain(path, ChainSecurity::kIdentityOnly); }), refusal);
  }
  // Folders nobody secured carry Wine's answer (the user as owner): the relaxed rule refuses.
  EXPECT_EQ(RefusalOf([&] { PinFolderChain(scratch.path(), ChainSecurity::kRelaxedRule); }),
            Refusal(error::kAccessDenied, message::kFolderSecurityUnsafe));
}

// C:\vexo-tests\<scratch> is two levels below the root: both are pinned in order, never C:\,
// however the path is written.
TEST(PinFolderChainTest, PinsEveryLevelBelowTheRootInOrder) {
  const test::ScratchFolder scratch;
  const std::vector<std::wstring> expected = {ParentPath(scratch.path()), scratch.path()};
  std::wstring upper = scratch.path();
  std::wstring forward = scratch.path();
  std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
  std::replace(forward.begin(), forward.end(), L'\\', L'/');
  for (const std::wstring& written : {scratch.path(), upper, forward, scratch.path() + L"\\"}) {
    DirectoryChainPin pin = PinFolderChain(written, ChainSecurity::kIdentityOnly);
    ASSERT_EQ(pin.size(), 2u) << testing::PrintToString(written);
    const DirectoryChainPin moved = std::move(pin);
    if (written == scratch.path()) {
      EXPECT_EQ(moved.paths(), expected);
    }
    EXPECT_EQ(GetFinalPath(moved.handle(0)), expected[0]);
    EXPECT_EQ(GetFinalPath(moved.handle(1)), expected[1]);
  }
}

}  // namespace
}  // namespace vexo
