// Version grammar and order, the role table and the arguments a role may carry.
#include <gtest/gtest.h>

#include <compare>
#include <stdexcept>
#include <string>

#include "update/role.h"
#include "update/update_error.h"
#include "update/version.h"

namespace vexo {
namespace {

struct VersionTextCase {
  const char* text;
  bool valid;
  ProgramVersion parsed;
};

TEST(VersionTest, ParseVersionGrammar) {
  const VersionTextCase cases[] = {
      {"0.2.1", true, {0, 2, 1}},
      {"0.0.0", true, {0, 0, 0}},
      {"99999.99999.99999", true, {99999, 99999, 99999}},
      {"10.20.30", true, {10, 20, 30}},
      {"01.2.3", false, {}},
      {"1.02.3", false, {}},
      {"1.2.00", false, {}},
      {"1.2", false, {}},
      {"1", false, {}},
      {"1.2.3.4", false, {}},
      {"1.2.3-beta", false, {}},
      {"100000.0.0", false, {}},
      {"0.0.100000", false, {}},
      {" 1.2.3", false, {}},
      {"1.2.3 ", false, {}},
      {"1. 2.3", false, {}},
      {"1..3", false, {}},
      {".1.2", false, {}},
      {"1.2.", false, {}},
      {"+1.2.3", false, {}},
      {"-1.2.3", false, {}},
      {"1.2.3\n", false, {}},
      {"", false, {}},
      {"a.b.c", false, {}},
      {"\xd9\xa1.2.3", false, {}},  // an Arabic-Indic digit one
  };
  for (const VersionTextCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    if (c.valid) {
      const ProgramVersion v = ParseVersion(c.text);
      EXPECT_EQ(v.major, c.parsed.major);
      EXPECT_EQ(v.minor, c.parsed.minor);
      EXPECT_EQ(v.patch, c.parsed.patch);
      EXPECT_EQ(VersionText(v), c.text);
    } else {
      try {
        ParseVersion(c.text);
        ADD_FAILURE() << "accepted";
      } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), kUpdateValidationFailed);
      }
    }
  }
  // A text with an embedded NUL is not cut short at it.
  EXPECT_THROW(ParseVersion(std::string("1.2.3\0", 6)), std::runtime_error);
}

struct VersionOrderCase {
  const char* left;
  const char* right;
  std::strong_ordering order;
};

TEST(VersionTest, CompareVersionsByNumber) {
  const VersionOrderCase cases[] = {
      {"0.2.10", "0.2.1", std::strong_ordering::greater},
      {"0.10.0", "0.9.99999", std::strong_ordering::greater},
      {"0.2.1", "0.2.1", std::strong_ordering::equal},
      {"0.2.0", "0.2.1", std::strong_ordering::less},
      {"1.0.0", "0.99999.99999", std::strong_ordering::greater},
      {"2.0.0", "10.0.0", std::strong_ordering::less},
      {"1.2.3", "1.3.0", std::strong_ordering::less},
  };
  for (const VersionOrderCase& c : cases) {
    SCOPED_TRACE(std::string(c.left) + " vs " + c.right);
    EXPECT_EQ(CompareVersions(ParseVersion(c.left), ParseVersion(c.right)), c.order);
    EXPECT_EQ(CompareVersions(ParseVersion(c.right), ParseVersion(c.left)), 0 <=> c.order);
  }
}

struct ExecutableRoleCase {
  const char* role;
  const wchar_t* path;
  bool matches;
};

TEST(RoleTest, ExecutableMatchesRole) {
  const ExecutableRoleCase cases[] = {
      {"host", L"C:\\Users\\a\\Downloads\\Vexo-Host.exe", true},
      {"host", L"Vexo-Host.exe", true},
      {"host", L"C:\\x\\VEXO-HOST.EXE", true},
      {"host", L"C:\\x\\vExO-hOsT.ExE", true},
      {"host", L"C:/x/y/Vexo-Host.exe", true},
      {"host", L"C:\\x/Vexo-Host.exe", true},
      {"host", L"C:\\x\\Vexo-Host (1).exe", false},
      {"host", L"C:\\x\\Vexo-Host.exe.exe", false},
      {"host", L"C:\\x\\Vexo-Host.ex", false},
      {"host", L"C:\\x\\Vexo-Host.exe ", false},
      {"host", L"C:\\x\\ Vexo-Host.exe", false},
      {"host", L"C:\\Vexo-Host.exe\\", false},
      {"host", L"C:\\Vexo-Host.exe\\other.exe", false},
      {"host", L"C:\\x\\Vexo-Host\u0130.exe", false},
      {"host", L"C:\\x\\Vexo\u2010Host.exe", false},  // a Unicode hyphen
      {"host", L"C:\\x\\Vexo-Viewer.exe", false},
      {"Host", L"C:\\x\\Vexo-Host.exe", false},
      {"HOST", L"C:\\x\\Vexo-Host.exe", false},
      {"", L"C:\\x\\Vexo-Host.exe", false},
      {"viewer", L"C:\\x\\vexo-viewer.exe", true},
      {"server", L"C:\\x\\Vexo-Server.exe", true},
      {"server", L"C:\\x\\Vexo-Server-Manager.exe", false},
      {"manager", L"C:\\x\\Vexo-Server-Manager.exe", true},
      {"manager", L"C:\\x\\Vexo-Server.exe", false},
      {"collector", L"C:\\x\\Vexolink-Collector.exe", true},
      {"collector", L"C:\\x\\vexolink-collector-1.4.0.exe", true},
      {"collector", L"C:\\x\\VEXOLINK-COLLECTOR-1.EXE", true},
      {"collector", L"C:\\x\\Vexolink-Collector-....exe", true},
      {"collector", L"C:\\x\\Vexolink-Collector-1..exe", true},
      {"collector", L"C:\\x\\Vexolink-Collector-.exe", false},
      {"collector", L"C:\\x\\Vexolink-Collector-1a.exe", false},
      {"collector", L"C:\\x\\Vexolink-Collector1.exe", false},
      {"collector", L"C:\\x\\Vexolink-Collector--1.exe", false},
      {"collector", L"C:\\x\\Vexolink-Collector-1.exe.exe", false},
      {"collector", L"C:\\x\\Vexolink-Collector-1 .exe", false},
      {"collector", L"C:\\x\\Vexolink-Collector", false},
      {"collector", L"C:\\x\\Vexolink-Collector.ex", false},
      {"collector", L"C:\\x\\Vexolink-Collector-\u0661.exe", false},
      {"collector", L"C:\\x\\Vexo-Host.exe", false},
      {"host", L"C:\\x\\Vexolink-Collector.exe", false},
      {"unknown", L"C:\\x\\Vexo-Host.exe", false},
  };
  for (const ExecutableRoleCase& c : cases) {
    EXPECT_EQ(ExecutableMatchesRole(c.role, c.path), c.matches)
        << c.role << " " << testing::PrintToString(std::wstring(c.path));
  }
}

struct RoleArgumentsCase {
  const char* role;
  const char* arguments;
  bool allowed;
};

TEST(RoleTest, RoleArgumentsAllowed) {
  const RoleArgumentsCase cases[] = {
      {"host", "", true},
      {"viewer", "", true},
      {"server", "", true},
      {"manager", "", true},
      {"collector", "", true},
      {"host", "--managed", false},
      {"host", "--start-collection", false},
      {"host", "--cleanup", false},
      {"server", "--managed", true},
      {"server", "--Managed", false},
      {"server", " --managed", false},
      {"server", "--managed ", false},
      {"server", "--managed --managed", false},
      {"server", "--start-collection", false},
      {"collector", "--start-collection", true},
      {"collector", "--start-collection --managed", false},
      {"collector", "--managed", false},
      {"viewer", "--managed", false},
      {"manager", "--managed", false},
      {"Server", "--managed", false},
      {"unknown", "--managed", false},
      {"unknown", "", true},
  };
  for (const RoleArgumentsCase& c : cases) {
    EXPECT_EQ(RoleArgumentsAllowed(c.role, c.arguments), c.allowed)
        << c.role << " [" << c.arguments << "]";
  }
}

TEST(RoleTest, EveryRoleOfTheTableMatchesItsOwnFileName) {
  for (const RoleEntry& entry : RoleTable()) {
    const std::wstring name = std::wstring(entry.file_name) +
                              (entry.name_rule == RoleNameRule::kExactName ? L"" : L".exe");
    EXPECT_TRUE(ExecutableMatchesRole(entry.role, L"C:\\p\\" + name)) << entry.role;
    EXPECT_EQ(FindRole(entry.role), &entry);
    for (const RoleEntry& other : RoleTable()) {
      if (&other != &entry) {
        EXPECT_FALSE(ExecutableMatchesRole(other.role, L"C:\\p\\" + name))
            << other.role << " took the name of " << entry.role;
      }
    }
  }
}

}  // namespace
}  // namespace vexo
