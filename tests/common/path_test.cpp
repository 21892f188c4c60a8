// Path grammar and the local-path rule, as tables.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/path.h"
#include "tests/common/catch_failure.h"

namespace vexo {
namespace {

std::string Label(const wchar_t* path) {
  return testing::PrintToString(std::wstring(path));
}

TEST(PathTest, LexicallyNormal) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:/Users//a///b", L"C:\\Users\\a\\b"},
      {L"C:\\a\\.\\b", L"C:\\a\\b"},
      {L"C:\\a\\x\\..\\b", L"C:\\a\\b"},
      {L"C:\\..\\..\\a", L"C:\\a"},
      {L"C:\\a\\..", L"C:\\"},
      {L"C:\\a\\.", L"C:\\a\\"},
      {L"C:..\\a", L"C:..\\a"},
      {L"a\\..\\..\\b", L"..\\b"},
      {L"a\\..", L"."},
      {L"//server/share/x/../y", L"\\\\server\\share\\y"},
      {L"//?/C:/a", L"\\\\?\\C:\\a"},
      {L"", L""},
  };
  for (const auto& [input, normal] : cases) {
    EXPECT_EQ(LexicallyNormal(input), normal) << Label(input);
  }
}

TEST(PathTest, RootParentFileNameAndJoin) {
  // input, root name, root directory, relative part, absolute
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, bool> roots[] = {
      {L"C:\\a\\b", L"C:", L"\\", L"a\\b", true},
      {L"C:a", L"C:", L"", L"a", false},
      {L"\\a", L"", L"\\", L"a", false},
      {L"\\\\server\\share\\a", L"\\\\server", L"\\", L"share\\a", true},
      {L"\\\\?\\C:\\a", L"\\\\?", L"\\", L"C:\\a", true},
      {L"\\??\\C:\\a", L"\\??", L"\\", L"C:\\a", true},
      {L"\\\\\\a", L"", L"\\\\\\", L"a", false},
      {L"1:\\a", L"", L"", L"1:\\a", false},
  };
  for (const auto& [input, root_name, root_directory, relative, absolute] : roots) {
    const PathParts parts = SplitRoot(input);
    EXPECT_EQ(parts.root_name + L"|" + parts.root_directory + L"|" + parts.relative,
              std::wstring(root_name) + L"|" + root_directory + L"|" + relative);
    EXPECT_EQ(IsAbsolutePath(input), absolute) << Label(input);
  }
  // input, parent, file name
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> parts[] = {
      {L"C:\\a\\\\b", L"C:\\a", L"b"},
      {L"C:\\a", L"C:\\", L"a"},
      {L"C:\\", L"C:\\", L""},
      {L"C:\\a\\b\\", L"C:\\a\\b", L""},
      {L"\\\\server\\share", L"\\\\server\\", L"share"},
      {L"C:/dl/Vexo-Host.exe", L"C:/dl", L"Vexo-Host.exe"},
  };
  for (const auto& [input, parent, file_name] : parts) {
    EXPECT_EQ(ParentPath(input), parent) << Label(input);
    EXPECT_EQ(FileName(input), file_name) << Label(input);
  }
  // folder, name, joined
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> joins[] = {
      {L"C:\\run", L"assets\\fonts\\OFL.txt", L"C:\\run\\assets\\fonts\\OFL.txt"},
      {L"C:\\", L"a", L"C:\\a"},
      {L"C:\\run/", L"a", L"C:\\run/a"},
      {L"C:\\run", L"D:\\other", L"D:\\other"},
      {L"C:\\run", L"\\top", L"C:\\top"},
      {L"C:", L"a", L"C:a"},
      {L"", L"a", L"a"},
  };
  for (const auto& [folder, name, joined] : joins) {
    EXPECT_EQ(JoinPath(folder, name), joined) << Label(folder) << " + " << Label(name);
  }
}

TEST(PathTest, RequireLocalPath) {
  const std::wstring refused =
      Refusal(error::kBadPathname, L"실행 파일을 고객 PC의 로컬 폴더에 내려받아 실행해 주세요.");
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"C:\\Users\\a\\Downloads", true},
      {L"C:/a", true},
      {L"C:\\", true},
      {L"\\\\server\\share\\f", false},
      {L"\\\\?\\C:\\a", false},
      {L"\\\\.\\C:\\a", false},
      {L"\\??\\C:\\a", false},
      {L"\\a\\b", false},
      {L"a\\b", false},
      {L"C:a", false},
      {L"", false},
      {L"1:\\a", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RefusalOf([&] { RequireLocalPath(c.first); }), c.second ? L"" : refused)
        << Label(c.first);
  }
}

TEST(FailureTest, ZeroCodeBecomesInvalidDataAndCodesPrintInDecimal) {
  EXPECT_EQ(RefusalOf([] { ThrowFailure(L"x", 0); }), L"13: x");
  EXPECT_EQ(RefusalOf([] { ThrowFailure(L"x", 0xFFFFFFFFu); }), L"4294967295: x");
}

}  // namespace
}  // namespace vexo
