// Version grammar and order, the role table and the arguments a role may carry. The fuzz
// targets check the ASCII grammars against regular expressions on every input they make; these
// rows name the edges, and what the fuzzers leave out: text beyond ASCII.
#include <gtest/gtest.h>

#include <compare>
#include <stdexcept>
#include <string>

#include "update/role.h"
#include "update/update_error.h"
#include "update/version.h"

namespace vexo {
namespace {

TEST(VersionTest, ParseVersionGrammar) {
  const std::pair<std::string, bool> cases[] = {
      {"0.2.1", true},
      {"99999.99999.99999", true},
      {"01.2.3", false},
      {"100000.0.0", false},
      {"1.2", false},
      {"\xd9\xa1.2.3", false},            // an Arabic-Indic digit one
      {std::string("1.2.3\0", 6), false},  // not cut short at a NUL
  };
  for (const auto& [text, valid] : cases) {
    try {
      EXPECT_EQ(VersionText(ParseVersion(text)), text);
      EXPECT_TRUE(valid) << testing::PrintToString(text);
    } catch (const std::runtime_error& error) {
      EXPECT_FALSE(valid) << testing::PrintToString(text);
      EXPECT_STREQ(error.what(), kUpdateValidationFailed);
    }
  }
}

TEST(VersionTest, CompareVersionsByNumber) {
  const struct {
    const char* left;
    const char* right;
    std::strong_ordering order;
  } cases[] = {
      {"0.2.10", "0.2.1", std::strong_ordering::greater},
      {"0.10.0", "0.9.99999", std::strong_ordering::greater},
      {"0.2.1", "0.2.1", std::strong_ordering::equal},
      {"2.0.0", "10.0.0", std::strong_ordering::less},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareVersions(ParseVersion(c.left), ParseVersion(c.right)), c.order) << c.left;
    EXPECT_EQ(CompareVersions(ParseVersion(c.right), ParseVersion(c.left)), 0 <=> c.order);
  }
}

TEST(RoleTest, ExecutableMatchesRole) {
  const struct {
    const char* role;
    const wchar_t* path;
    bool matches;
  } cases[] = {
      {"host", L"C:\\Users\\a\\Downloads\\Vexo-Host.exe", true},
      {"host", L"C:\\x\\vExO-hOsT.ExE", true},
      {"host", L"C:\\x/Vexo-Host.exe", true},
      {"host", L"C:\\x\\Vexo-Host (1).exe", false},
      {"host", L"C:\\Vexo-Host.exe\\other.exe", false},
      {"host", L"C:\\x\\Vexo-Host\u0130.exe", false},  // a letter beyond ASCII
      {"host", L"C:\\x\\Vexo\u2010Host.exe", false},   // a Unicode hyphen
      {"Host", L"C:\\x\\Vexo-Host.exe", false},
      {"manager", L"C:\\x\\Vexo-Server-Manager.exe", true},
      {"collector", L"C:\\x\\vexolink-collector-1.4.0.exe", true},
      {"collector", L"C:\\x\\Vexolink-Collector-.exe", false},
      {"collector", L"C:\\x\\Vexolink-Collector-\u0661.exe", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExecutableMatchesRole(c.role, c.path), c.matches)
        << c.role << " " << testing::PrintToString(std::wstring(c.path));
  }
}

TEST(RoleTest, RoleArgumentsAllowed) {
  const struct {
    const char* role;
    const char* arguments;
    bool allowed;
  } cases[] = {
      {"host", "", true},
      {"host", "--managed", false},
      {"server", "--managed", true},
      {"server", "--managed --managed", false},
      {"collector", "--start-collection", true},
      {"manager", "--managed", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RoleArgumentsAllowed(c.role, c.arguments), c.allowed)
        << c.role << " [" << c.arguments << "]";
  }
}

}  // namespace
}  // namespace vexo
