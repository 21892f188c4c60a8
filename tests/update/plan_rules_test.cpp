// Every rule of the plan reader. (The written bytes are checked on a real update, end to end.)
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "update/plan.h"

namespace vexo {
namespace {

using nlohmann::json;

json ValidPlan() {
  return {{"arguments", ""},
          {"manifest", "m"},
          {"oldHash", std::string(64, 'a')},
          {"parentCreation", 0},
          {"role", "host"},
          {"schema", 1},
          {"target", std::string(99, 'x')}};
}

TEST(PlanRulesTest, ReaderAppliesEveryMemberRule) {
  EXPECT_EQ(ReadUpdatePlan(ValidPlan().dump(), "host").target, std::string(99, 'x'));
  EXPECT_ANY_THROW(ReadUpdatePlan(ValidPlan().dump() + std::string(kMaxPlanBytes, ' '), "host"));
  std::string exponent = ValidPlan().dump();
  exponent.replace(exponent.find("\"parentCreation\":0"), 18, "\"parentCreation\":1e3");
  EXPECT_ANY_THROW(ReadUpdatePlan(exponent, "host"));
  const std::pair<const char*, json> refused[] = {{"schema", 2},
                                                  {"schema", "1"},
                                                  {"role", "server"},
                                                  {"target", "a\\Vexo-Host.exe"},
                                                  {"target", "C:Vexo-Host.exe"},
                                                  {"target", "a/b"},
                                                  {"target", std::string(100, 'x')},
                                                  {"manifest", 5},
                                                  {"oldHash", std::string(64, 'A')},
                                                  {"oldHash", std::string(63, 'a')},
                                                  {"arguments", "--managed"},
                                                  {"parentCreation", -1},
                                                  {"parentCreation", 1.5},
                                                  {"extra", 0}};
  for (const auto& [member, value] : refused) {
    json plan = ValidPlan();
    plan[member] = value;
    EXPECT_ANY_THROW(ReadUpdatePlan(plan.dump(), "host")) << plan.dump();
  }
  json missing = ValidPlan();
  missing.erase("role");
  EXPECT_ANY_THROW(ReadUpdatePlan(missing.dump(), "host"));
}

}  // namespace
}  // namespace vexo
