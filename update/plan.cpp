#include "update/plan.h"

#include <nlohmann/json.hpp>

#include "common/hex.h"
#include "update/manifest.h"
#include "update/role.h"
#include "update/strict_json.h"
#include "update/update_error.h"

namespace vexo {
namespace {

using nlohmann::json;

const std::string& RequireString(const json& value) {
  return value.get_ref<const std::string&>();
}

bool IsPlainFileName(std::string_view name) noexcept {
  return name.size() <= kMaxPlanTargetBytes && name.find_first_of("/\\:") == std::string::npos;
}

}  // namespace

// nlohmann keeps object members in a std::map, so dump() writes them in byte order of their
// names; it writes compactly, leaves non-ASCII UTF-8 unescaped and refuses invalid UTF-8.
std::string UpdatePlanText(const UpdatePlan& plan) {
  json document = json::object();
  document["arguments"] = plan.arguments;
  document["manifest"] = plan.manifest;
  document["oldHash"] = plan.old_hash;
  document["parentCreation"] = plan.parent_creation;
  document["role"] = plan.role;
  document["schema"] = kPlanSchema;
  document["target"] = plan.target;
  return document.dump();
}

UpdatePlan ReadUpdatePlan(std::string_view text, std::string_view role) {
  RequireUpdate(text.size() <= kMaxPlanBytes);
  const json document = ParseStrictJson(text);
  RequireUpdate(document.is_object() && document.size() == kPlanMembers);
  RequireUpdate(document.at("schema") == kPlanSchema);
  UpdatePlan plan;
  plan.role = RequireString(document.at("role"));
  RequireUpdate(plan.role == role);
  plan.target = RequireString(document.at("target"));
  RequireUpdate(IsPlainFileName(plan.target));
  plan.manifest = RequireString(document.at("manifest"));
  plan.old_hash = RequireString(document.at("oldHash"));
  RequireUpdate(IsLowerHexOfLength(plan.old_hash, kSha256HexLength));
  plan.arguments = RequireString(document.at("arguments"));
  RequireUpdate(RoleArgumentsAllowed(role, plan.arguments));
  const json& parent_creation = document.at("parentCreation");
  RequireUpdate(IsNonNegativeInteger(parent_creation));
  plan.parent_creation = parent_creation.get<std::uint64_t>();
  return plan;
}

std::string AppliedRecordText(std::string_view role,
                              std::string_view sha256,
                              std::string_view version) {
  json record = json::object();
  record["role"] = role;
  record["sha256"] = sha256;
  record["version"] = version;
  return record.dump();
}

}  // namespace vexo
