#include "update/strict_json.h"

#include <set>
#include <string>
#include <vector>

#include "update/update_error.h"

namespace vexo {

nlohmann::json ParseStrictJson(std::string_view text) {
  // One set of member names per object that is open at the moment.
  std::vector<std::set<std::string>> open_objects;
  const nlohmann::json::parser_callback_t reject_duplicate_members =
      [&open_objects](int /*depth*/, nlohmann::json::parse_event_t event,
                      nlohmann::json& parsed) -> bool {
    switch (event) {
      case nlohmann::json::parse_event_t::object_start:
        open_objects.emplace_back();
        break;
      case nlohmann::json::parse_event_t::object_end:
        open_objects.pop_back();
        break;
      case nlohmann::json::parse_event_t::key:
        if (open_objects.empty() ||
            !open_objects.back().insert(parsed.get_ref<const std::string&>()).second) {
          ThrowUpdateValidationFailed();
        }
        break;
      default:
        break;
    }
    return true;
  };
  return nlohmann::json::parse(text.begin(), text.end(), reject_duplicate_members,
                               /*allow_exceptions=*/true, /*ignore_comments=*/false);
}

bool IsNonNegativeInteger(const nlohmann::json& value) noexcept {
  return value.is_number_unsigned();
}

}  // namespace vexo
