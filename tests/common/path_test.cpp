// Path grammar and the local-path rule, one row per grammar feature.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "common/error_codes.h"
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

// The root of a path, whether it is absolute, and whether the launcher takes it as a local
// folder: only a drive letter with a root directory is.
TEST(PathTest, RootAndLocalPath) {
  const std::wstring refused =
      Refusal(error::kBadPathname, L"실행 파일을 고객 PC의 로컬 폴더에 내려받아 실행해 주세요.");
  const struct {
    const wchar_t* path;
    const wchar_t* root;  // name|directory|relative
    bool absolute;
    bool local;
  } cases[] = {
      {L"C:\\Users\\a", L"C:|\\|Users\\a", true, true},
      {L"C:/a", L"C:|/|a", true, true},
      {L"C:\\", L"C:|\\|", true, true},
      {L"C:a", L"C:||a", false, false},
      {L"\\a", L"|\\|a", false, false},
      {L"a\\b", L"||a\\b", false, false},
      {L"\\\\server\\share\\a", L"\\\\server|\\|share\\a", true, false},
      {L"\\\\?\\C:\\a", L"\\\\?|\\|C:\\a", true, false},
      {L"\\\\.\\C:\\a", L"\\\\.|\\|C:\\a", true, false},
      {L"\\??\\C:\\a", L"\\??|\\|C:\\a", true, false},
      {L"\\\\\\a", L"|\\\\\\|a", false, false},
      {L"1:\\a", L"||1:\\a", false, false},
      {L"", L"||", false, false},
  };
  for (const auto& c : cases) {
    const PathParts parts = SplitRoot(c.path);
    EXPECT_EQ(parts.root_name + L"|" + parts.root_directory + L"|" + parts.relative, c.root);
    EXPECT_EQ(IsAbsolutePath(c.path), c.absolute) << Label(c.path);
    EXPECT_EQ(RefusalOf([&] { RequireLocalPath(c.path); }), c.local ? L"" : refused)
        << Label(c.path);
  }
}

TEST(PathTest, ParentAndJoin) {
  // input, parent
  const std::pair<const wchar_t*, const wchar_t*> parents[] = {
      {L"C:\\a\\\\b", L"C:\\a"},
      {L"C:\\a", L"C:\\"},
      {L"C:\\", L"C:\\"},
      {L"C:\\a\\b\\", L"C:\\a\\b"},
      {L"\\\\server\\share", L"\\\\server\\"},
      {L"C:/dl/Vexo-Host.exe", L"C:/dl"},
  };
  for (const auto& [input, parent] : parents) {
    EXPECT_EQ(ParentPath(input), parent) << Label(input);
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

}  // namespace
}  // namespace vexo
