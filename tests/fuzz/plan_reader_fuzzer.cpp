// Fuzzes the plan reader: an accepted plan must keep the reader's promises, and writing it
// again and reading that back must give the same plan.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "common/hex.h"
#include "update/plan.h"
#include "update/role.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  vexo::UpdatePlan plan;
  try {
    plan = vexo::ReadUpdatePlan(text, "server");
  } catch (const std::exception&) {
    return 0;
  }
  if (plan.role != "server" || plan.target.size() >= 100 ||
      plan.target.find_first_of("/\\:") != std::string::npos ||
      !vexo::IsLowerHexOfLength(plan.old_hash, 64) ||
      !vexo::RoleArgumentsAllowed("server", plan.arguments)) {
    __builtin_trap();
  }
  const vexo::UpdatePlan again = vexo::ReadUpdatePlan(vexo::UpdatePlanText(plan), "server");
  if (again.manifest != plan.manifest || again.target != plan.target ||
      again.arguments != plan.arguments || again.parent_creation != plan.parent_creation) {
    __builtin_trap();
  }
  return 0;
}
