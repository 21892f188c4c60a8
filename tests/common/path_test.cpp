// Path grammar and the local-path rule, as tables.
#include <gtest/gtest.h>

#include <string>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/path.h"

namespace vexo {
namespace {

struct NormalCase {
  const wchar_t* input;
  const wchar_t* normal;
};

TEST(PathTest, LexicallyNormal) {
  const NormalCase cases[] = {
      {L"C:\\Users\\a\\Downloads\\Vexo-Host.exe", L"C:\\Users\\a\\Downloads\\Vexo-Host.exe"},
      {L"C:/Users//a///b", L"C:\\Users\\a\\b"},
      {L"C:\\a\\.\\b", L"C:\\a\\b"},
      {L"C:\\a\\x\\..\\b", L"C:\\a\\b"},
      {L"C:\\..\\..\\a", L"C:\\a"},
      {L"C:\\a\\..", L"C:\\"},
      {L"C:\\a\\b\\", L"C:\\a\\b\\"},
      {L"C:\\a\\.", L"C:\\a\\"},
      {L"c:", L"c:"},
      {L"C:..\\a", L"C:..\\a"},
      {L"a\\..\\..\\b", L"..\\b"},
      {L"a\\..", L"."},
      {L"//server/share/x/../y", L"\\\\server\\share\\y"},
      {L"//?/C:/a", L"\\\\?\\C:\\a"},
      {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
      {L"/?"
       L"?/C:/a",
       L"\\??\\C:\\a"},
      {L"\\a\\\\b", L"\\a\\b"},
      {L"", L""},
  };
  for (const NormalCase& c : cases) {
    EXPECT_EQ(LexicallyNormal(c.input), c.normal)
        << "input: " << testing::PrintToString(std::wstring(c.input));
  }
}

struct SplitCase {
  const wchar_t* input;
  const wchar_t* root_name;
  const wchar_t* root_directory;
  const wchar_t* relative;
  bool absolute;
};

TEST(PathTest, RootAndAbsolute) {
  const SplitCase cases[] = {
      {L"C:\\a\\b", L"C:", L"\\", L"a\\b", true},
      {L"z:/a", L"z:", L"/", L"a", true},
      {L"C:a", L"C:", L"", L"a", false},
      {L"C:", L"C:", L"", L"", false},
      {L"\\a", L"", L"\\", L"a", false},
      {L"a\\b", L"", L"", L"a\\b", false},
      {L"\\\\server\\share\\a", L"\\\\server", L"\\", L"share\\a", true},
      {L"\\\\server", L"\\\\server", L"", L"", true},
      {L"\\\\?\\C:\\a", L"\\\\?", L"\\", L"C:\\a", true},
      {L"\\\\.\\C:\\a", L"\\\\.", L"\\", L"C:\\a", true},
      {L"\\??\\C:\\a", L"\\??", L"\\", L"C:\\a", true},
      {L"\\\\?x", L"\\\\?x", L"", L"", true},
      {L"\\\\\\a", L"", L"\\\\\\", L"a", false},
      {L"1:\\a", L"", L"", L"1:\\a", false},
  };
  for (const SplitCase& c : cases) {
    const PathParts parts = SplitRoot(c.input);
    const std::string label = testing::PrintToString(std::wstring(c.input));
    EXPECT_EQ(parts.root_name, c.root_name) << label;
    EXPECT_EQ(parts.root_directory, c.root_directory) << label;
    EXPECT_EQ(parts.relative, c.relative) << label;
    EXPECT_EQ(IsAbsolutePath(c.input), c.absolute) << label;
  }
}

struct PartCase {
  const wchar_t* input;
  const wchar_t* parent;
  const wchar_t* file_name;
};

TEST(PathTest, ParentAndFileName) {
  const PartCase cases[] = {
      {L"C:\\a\\b", L"C:\\a", L"b"},
      {L"C:\\a", L"C:\\", L"a"},
      {L"C:\\", L"C:\\", L""},
      {L"C:\\a\\\\b", L"C:\\a", L"b"},
      {L"C:\\a\\b\\", L"C:\\a\\b", L""},
      {L"\\\\server\\share", L"\\\\server\\", L"share"},
      {L"Vexo-Host.exe", L"", L"Vexo-Host.exe"},
      {L"C:/dl/Vexo-Host.exe", L"C:/dl", L"Vexo-Host.exe"},
  };
  for (const PartCase& c : cases) {
    const std::string label = testing::PrintToString(std::wstring(c.input));
    EXPECT_EQ(ParentPath(c.input), c.parent) << label;
    EXPECT_EQ(FileName(c.input), c.file_name) << label;
  }
}

struct JoinCase {
  const wchar_t* folder;
  const wchar_t* name;
  const wchar_t* joined;
};

TEST(PathTest, Join) {
  const JoinCase cases[] = {
      {L"C:\\Program Files", L"Vexo Remote Support Portable",
       L"C:\\Program Files\\Vexo Remote Support Portable"},
      {L"C:\\", L"a", L"C:\\a"},
      {L"C:\\run", L"assets\\fonts\\OFL.txt", L"C:\\run\\assets\\fonts\\OFL.txt"},
      {L"C:\\run/", L"a", L"C:\\run/a"},
      {L"C:\\run", L"D:\\other", L"D:\\other"},
      {L"C:\\run", L"\\\\server\\share", L"\\\\server\\share"},
      {L"C:\\run", L"\\top", L"C:\\top"},
      {L"C:", L"a", L"C:a"},
      {L"", L"a", L"a"},
  };
  for (const JoinCase& c : cases) {
    EXPECT_EQ(JoinPath(c.folder, c.name), c.joined)
        << testing::PrintToString(std::wstring(c.folder)) << " + "
        << testing::PrintToString(std::wstring(c.name));
  }
}

struct LocalCase {
  const wchar_t* path;
  bool accepted;
};

TEST(PathTest, RequireLocalPath) {
  const LocalCase cases[] = {
      {L"C:\\Users\\a\\Downloads", true},
      {L"d:\\x", true},
      {L"C:\\", true},
      {L"C:/a", true},
      {L"\\\\server\\share\\folder", false},
      {L"\\\\?\\C:\\a", false},
      {L"\\\\.\\C:\\a", false},
      {L"\\??\\C:\\a", false},
      {L"\\a\\b", false},
      {L"a\\b", false},
      {L"C:a", false},
      {L"C:", false},
      {L"", false},
      {L"1:\\a", false},
  };
  for (const LocalCase& c : cases) {
    const std::string label = testing::PrintToString(std::wstring(c.path));
    if (c.accepted) {
      EXPECT_NO_THROW(RequireLocalPath(c.path)) << label;
      continue;
    }
    try {
      RequireLocalPath(c.path);
      ADD_FAILURE() << "accepted " << label;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code, error::kBadPathname) << label;
      EXPECT_EQ(failure.message, L"실행 파일을 고객 PC의 로컬 폴더에 내려받아 실행해 주세요.")
          << label;
    }
  }
}

TEST(FailureTest, ZeroCodeBecomesInvalidData) {
  const std::uint32_t codes[][2] = {{0, 13}, {5, 5}, {183, 183}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
  for (const auto& pair : codes) {
    try {
      ThrowFailure(L"x", pair[0]);
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code, pair[1]);
      EXPECT_EQ(failure.message, L"x");
    }
  }
}

TEST(FailureTest, DecimalText) {
  EXPECT_EQ(DecimalText(0), L"0");
  EXPECT_EQ(DecimalText(7), L"7");
  EXPECT_EQ(DecimalText(1460), L"1460");
  EXPECT_EQ(DecimalText(3221225477u), L"3221225477");
  EXPECT_EQ(DecimalText(4294967295u), L"4294967295");
}

}  // namespace
}  // namespace vexo
