// Path grammar and the local-path rule, as tables.
#include <gtest/gtest.h>

#include <string>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/path.h"

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

TEST(PathTest, RootAndAbsolute) {
  const struct {
    const wchar_t* input;
    const wchar_t* root_name;
    const wchar_t* root_directory;
    const wchar_t* relative;
    bool absolute;
  } cases[] = {
      {L"C:\\a\\b", L"C:", L"\\", L"a\\b", true},
      {L"C:a", L"C:", L"", L"a", false},
      {L"\\a", L"", L"\\", L"a", false},
      {L"\\\\server\\share\\a", L"\\\\server", L"\\", L"share\\a", true},
      {L"\\\\?\\C:\\a", L"\\\\?", L"\\", L"C:\\a", true},
      {L"\\??\\C:\\a", L"\\??", L"\\", L"C:\\a", true},
      {L"\\\\\\a", L"", L"\\\\\\", L"a", false},
      {L"1:\\a", L"", L"", L"1:\\a", false},
  };
  for (const auto& c : cases) {
    const PathParts parts = SplitRoot(c.input);
    EXPECT_EQ(parts.root_name, c.root_name) << Label(c.input);
    EXPECT_EQ(parts.root_directory, c.root_directory) << Label(c.input);
    EXPECT_EQ(parts.relative, c.relative) << Label(c.input);
    EXPECT_EQ(IsAbsolutePath(c.input), c.absolute) << Label(c.input);
  }
}

TEST(PathTest, ParentAndFileName) {
  const struct {
    const wchar_t* input;
    const wchar_t* parent;
    const wchar_t* file_name;
  } cases[] = {
      {L"C:\\a\\\\b", L"C:\\a", L"b"},
      {L"C:\\a", L"C:\\", L"a"},
      {L"C:\\", L"C:\\", L""},
      {L"C:\\a\\b\\", L"C:\\a\\b", L""},
      {L"\\\\server\\share", L"\\\\server\\", L"share"},
      {L"C:/dl/Vexo-Host.exe", L"C:/dl", L"Vexo-Host.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParentPath(c.input), c.parent) << Label(c.input);
    EXPECT_EQ(FileName(c.input), c.file_name) << Label(c.input);
  }
}

TEST(PathTest, Join) {
  const struct {
    const wchar_t* folder;
    const wchar_t* name;
    const wchar_t* joined;
  } cases[] = {
      {L"C:\\run", L"assets\\fonts\\OFL.txt", L"C:\\run\\assets\\fonts\\OFL.txt"},
      {L"C:\\", L"a", L"C:\\a"},
      {L"C:\\run/", L"a", L"C:\\run/a"},
      {L"C:\\run", L"D:\\other", L"D:\\other"},
      {L"C:\\run", L"\\top", L"C:\\top"},
      {L"C:", L"a", L"C:a"},
      {L"", L"a", L"a"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JoinPath(c.folder, c.name), c.joined) << Label(c.folder) << " + " << Label(c.name);
  }
}

TEST(PathTest, RequireLocalPath) {
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
  for (const auto& [path, accepted] : cases) {
    try {
      RequireLocalPath(path);
      EXPECT_TRUE(accepted) << Label(path);
    } catch (const Failure& failure) {
      EXPECT_FALSE(accepted) << Label(path);
      EXPECT_EQ(failure.code, error::kBadPathname);
      EXPECT_EQ(failure.message, L"실행 파일을 고객 PC의 로컬 폴더에 내려받아 실행해 주세요.");
    }
  }
}

TEST(FailureTest, ZeroCodeBecomesInvalidDataAndCodesPrintInDecimal) {
  for (const auto& [thrown, kept] : {std::pair{0u, 13u}, std::pair{0xFFFFFFFFu, 0xFFFFFFFFu}}) {
    try {
      ThrowFailure(L"x", thrown);
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code, kept);
    }
  }
  EXPECT_EQ(DecimalText(0), L"0");
  EXPECT_EQ(DecimalText(4294967295u), L"4294967295");
}

}  // namespace
}  // namespace vexo
