// Version grammar and order, the role table and the arguments a role may carry. The fuzz
// targets check the ASCII grammars against regular expressions on every input they make; these
// rows name the edges, and what the fuzzers leave out: text beyond ASCII.
#include <gtest/gtest.h>

#include <compare>
#include <stdexcept>
#include <string>
#include <tuple>

#include "update/role.h"
#include "update/update_error.h"
#include "update/version.h"

namespace vexo {
namespace {

TEST(VersionTest, GrammarAndOrder) {
  // Valid: the largest version; refused: a leading zero, six digits, two parts, an Arabic-Indic
  // digit, a NUL after a valid text.
  const std::pair<std::string, bool> texts[] = {
      {"99999.99999.99999", true}, {"01.2.3", false},
      {"100000.0.0", false},       {"1.2", false},
      {"\xd9\xa1.2.3", false},     {std::string("1.2.3\0", 6), false}};
  for (const auto& [text, valid] : texts) {
    try {
      EXPECT_EQ(VersionText(ParseVersion(text)), text);
      EXPECT_TRUE(valid) << testing::PrintToString(text);
    } catch (const std::runtime_error& error) {
      EXPECT_FALSE(valid) << testing::PrintToString(text);
      EXPECT_STREQ(error.what(), kUpdateValidationFailed);
    }
  }
  // Numbers, not text: each pair in order, lower first.
  for (const auto& [lower, higher] : {std::pair{"0.2.1", "0.2.10"}, {"0.9.99999", "0.10.0"}}) {
    EXPECT_EQ(CompareVersions(ParseVersion(lower), ParseVersion(higher)),
              std::strong_ordering::less);
    EXPECT_EQ(CompareVersions(ParseVersion(higher), ParseVersion(lower)),
              std::strong_ordering::greater);
  }
  EXPECT_EQ(CompareVersions(ParseVersion("0.2.1"), ParseVersion("0.2.1")),
            std::strong_ordering::equal);
}

TEST(RoleTest, FileNamesAndArguments) {
  const std::tuple<const char*, const wchar_t*, bool> names[] = {
      {"host", L"C:\\x\\vExO-hOsT.ExE", true},
      {"host", L"C:\\x/Vexo-Host.exe", true},
      {"host", L"C:\\x\\Vexo-Host (1).exe", false},
      {"host", L"C:\\Vexo-Host.exe\\other.exe", false},
      {"host", L"C:\\x\\Vexo-Host\u0130.exe", false},  // a letter beyond ASCII
      {"host", L"C:\\x\\Vexo\u2010Host.exe", false},   // a Unicode hyphen
      {"Host", L"C:\\x\\Vexo-Host.exe", false},
      {"collector", L"C:\\x\\vexolink-collector-1.4.0.exe", true},
      {"collector", L"C:\\x\\Vexolink-Collector-\u0661.exe", false},
  };
  for (const auto& [role, path, matches] : names) {
    EXPECT_EQ(ExecutableMatchesRole(role, path), matches)
        << role << " " << testing::PrintToString(std::wstring(path));
  }
  const std::tuple<const char*, const char*, bool> arguments[] = {
      {"host", "", true},
      {"host", "--managed", false},
      {"server", "--managed", true},
      {"server", "--managed --managed", false},
  };
  for (const auto& [role, line, allowed] : arguments) {
    EXPECT_EQ(RoleArgumentsAllowed(role, line), allowed) << role << " [" << line << "]";
  }
}

}  // namespace
}  // namespace vexo
