// Every rule of the plan reader. (The written bytes are checked on a real update, end to end.)
#include <gtest/gtest.h>

#include <string>

#include "tests/update/manifest_text.h"
#include "update/plan.h"

namespace vexo {
namespace {

using testing_support::RawMembers;
using testing_support::RawObject;
using testing_support::SetMember;

const std::string kHash(64, 'a');

std::string Quoted(const std::string& text) {
  return std::string("\"").append(text).append("\"");
}

TEST(PlanRulesTest, ReaderAppliesEveryMemberRule) {
  const std::pair<std::string, std::string> refused[] = {{"schema", "2"},
                                                         {"schema", "\"1\""},
                                                         {"role", "\"server\""},
                                                         {"role", ""},
                                                         {"target", "\"a\\\\Vexo-Host.exe\""},
                                                         {"target", "\"C:Vexo-Host.exe\""},
                                                         {"target", "\"a/b\""},
                                                         {"target", Quoted(std::string(100, 'x'))},
                                                         {"manifest", "5"},
                                                         {"oldHash", Quoted(std::string(64, 'A'))},
                                                         {"oldHash", Quoted(std::string(63, 'a'))},
                                                         {"arguments", "\"--managed\""},
                                                         {"parentCreation", "-1"},
                                                         {"parentCreation", "1.5"},
                                                         {"parentCreation", "1e3"},
                                                         {"extra", "0"}};
  const RawMembers valid = {{"arguments", "\"\""},
                            {"manifest", "\"m\""},
                            {"oldHash", Quoted(kHash)},
                            {"parentCreation", "0"},
                            {"role", "\"host\""},
                            {"schema", "1"},
                            {"target", Quoted(std::string(99, 'x'))}};
  EXPECT_EQ(ReadUpdatePlan(RawObject(valid), "host").target, std::string(99, 'x'));
  EXPECT_ANY_THROW(ReadUpdatePlan(RawObject(valid) + std::string(kMaxPlanBytes, ' '), "host"));
  for (const auto& [member, raw] : refused) {
    RawMembers members = valid;
    SetMember(members, member, raw);
    EXPECT_ANY_THROW(ReadUpdatePlan(RawObject(members), "host")) << RawObject(members);
  }
}

}  // namespace
}  // namespace vexo
