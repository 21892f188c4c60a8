// The plan and applied records (bytes written, every reader rule) and the worker's
// command-line and staging names.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/update/manifest_text.h"
#include "update/plan.h"
#include "update/update_names.h"

namespace vexo {
namespace {

using testing_support::RawMembers;
using testing_support::RawObject;
using testing_support::SetMember;

const std::string kHash(64, 'a');

std::string Quoted(const std::string& text) {
  return std::string("\"").append(text).append("\"");
}

RawMembers ValidPlan() {
  return {{"arguments", "\"\""},          {"manifest", "\"m\""},
          {"oldHash", Quoted(kHash)},     {"parentCreation", "133000000000000000"},
          {"role", "\"host\""},           {"schema", "1"},
          {"target", "\"Vexo-Host.exe\""}};
}

bool Accepted(const std::string& text) {
  try {
    ReadUpdatePlan(text, "host");
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

TEST(PlanRulesTest, WriterBytesAreCompactSortedAndUtf8) {
  const UpdatePlan plan{"", "{\"v\":\"\xC3\xA9\"}", kHash, 7, "host", "Vexo-Host.exe"};
  EXPECT_EQ(
      UpdatePlanText(plan),
      "{\"arguments\":\"\",\"manifest\":\"{\\\"v\\\":\\\"\xC3\xA9\\\"}\",\"oldHash\":\"" + kHash +
          "\",\"parentCreation\":7,\"role\":\"host\",\"schema\":1,\"target\":\"Vexo-Host.exe\"}");
  EXPECT_EQ(ReadUpdatePlan(UpdatePlanText(plan), "host").manifest, plan.manifest);
  EXPECT_ANY_THROW(UpdatePlanText({"", "\xFF", kHash, 7, "host", "Vexo-Host.exe"}));
  EXPECT_EQ(AppliedRecordText("host", "ab", "0.3.0"),
            "{\"role\":\"host\",\"sha256\":\"ab\",\"version\":\"0.3.0\"}");
}

TEST(PlanRulesTest, ReaderRules) {
  struct Case {
    const char* member;
    std::string raw;  // empty: the member is left out
    bool accepted;
  };
  const Case cases[] = {
      {"schema", "1", true},
      {"schema", "2", false},
      {"schema", "\"1\"", false},
      {"role", "\"server\"", false},
      {"role", "", false},
      {"target", "\"a\\\\Vexo-Host.exe\"", false},
      {"target", "\"C:Vexo-Host.exe\"", false},
      {"target", "\"a/b\"", false},
      {"target", Quoted(std::string(99, 'x')), true},
      {"target", Quoted(std::string(100, 'x')), false},
      {"manifest", "5", false},
      {"oldHash", Quoted(std::string(64, 'A')), false},
      {"oldHash", Quoted(std::string(63, 'a')), false},
      {"arguments", "\"--managed\"", false},
      {"parentCreation", "-1", false},
      {"parentCreation", "1.5", false},
      {"parentCreation", "1e3", false},
      {"parentCreation", "0", true},
  };
  for (const Case& c : cases) {
    RawMembers members = ValidPlan();
    SetMember(members, c.member, c.raw);
    SCOPED_TRACE(RawObject(members));
    EXPECT_EQ(Accepted(RawObject(members)), c.accepted);
  }
  RawMembers eight = ValidPlan();
  eight.push_back({"extra", "0"});
  EXPECT_FALSE(Accepted(RawObject(eight)));
  EXPECT_FALSE(Accepted(RawObject(ValidPlan()) + std::string(kMaxPlanBytes, ' ')));
}

TEST(UpdateNamesTest, WorkerProcessId) {
  const std::pair<const wchar_t*, std::optional<std::uint32_t>> cases[] = {
      {L"1", 1u},           {L"4294967295", 4294967295u}, {L"4294967296", std::nullopt},
      {L"0", std::nullopt}, {L"012", std::nullopt},       {L"12345678901", std::nullopt},
      {L"", std::nullopt},  {L"+1", std::nullopt},        {L"1 ", std::nullopt}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseWorkerProcessId(text), expected) << testing::PrintToString(std::wstring(text));
  }
}

TEST(UpdateNamesTest, StagingFolderName) {
  const std::wstring digits(32, L'0');
  EXPECT_TRUE(IsStagingFolderName(L".vexo-update-" + digits));
  for (const std::wstring& name :
       {L".vexo-update-" + digits + L"0", L".vexo-update-" + digits.substr(1),
        L".vexo-update-" + std::wstring(32, L'A'), L"vexo-update-" + digits,
        L".vexo-update-" + digits + L".old"}) {
    EXPECT_FALSE(IsStagingFolderName(name)) << testing::PrintToString(name);
  }
}

TEST(UpdateNamesTest, SavedArguments) {
  using Arguments = std::vector<std::wstring>;
  EXPECT_EQ(SavedArgumentsFor("host", Arguments{}), "");
  EXPECT_EQ(SavedArgumentsFor("server", Arguments{L"--managed"}), "--managed");
  EXPECT_EQ(SavedArgumentsFor("collector", Arguments{L"--start-collection"}), "--start-collection");
  EXPECT_EQ(SavedArgumentsFor("host", Arguments{L"--managed"}), std::nullopt);
  EXPECT_EQ(SavedArgumentsFor("server", Arguments{L"--Managed"}), std::nullopt);
  EXPECT_EQ(SavedArgumentsFor("server", Arguments{L"--managed", L"x"}), std::nullopt);
}

}  // namespace
}  // namespace vexo
