// Fuzzes ExecutableMatchesRole and RoleArgumentsAllowed. The first byte picks a role, the
// rest is the path as UTF-16 code units. Short ASCII names are also matched with the
// library's regular expressions, which must agree with the hand-written matcher.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>
#include <string_view>

#include "update/role.h"

namespace {

constexpr std::string_view kRoles[] = {"host",      "viewer", "server", "manager",
                                       "collector", "Host",   "",       "unknown"};

void Require(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view role = kRoles[data[0] % std::size(kRoles)];
  std::wstring path;
  for (std::size_t i = 1; i + 1 < size; i += 2) {
    path.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  }
  const bool matches = vexo::ExecutableMatchesRole(role, path);

  const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);  // npos + 1 is 0
  const vexo::RoleEntry* entry = vexo::FindRole(role);
  const bool ascii = std::all_of(name.begin(), name.end(), [](wchar_t c) { return c <= 0x7f; });
  if (entry == nullptr) {
    Require(!matches);
  } else if (name.size() <= 128 && ascii) {
    std::wstring pattern = L"Vexolink-Collector(?:-[0-9.]+)?\\.exe";
    if (entry->name_rule != vexo::RoleNameRule::kCollectorNamePattern) {
      pattern.clear();
      for (wchar_t c : entry->file_name) {
        pattern += std::wstring_view(L".-()[]{}*+?^$|\\").find(c) != std::wstring_view::npos
                       ? std::wstring{L'\\', c}
                       : std::wstring{c};
      }
    }
    Require(matches == std::regex_match(name, std::wregex(pattern, std::regex::icase)));
  }

  // The arguments a role may carry: empty, or exactly its one switch.
  const std::string line(name.begin(), name.end());
  const bool allowed = vexo::RoleArgumentsAllowed(role, line);
  Require(line.empty() ? allowed
                       : !allowed || (entry != nullptr && !entry->carried_switch.empty() &&
                                      line == entry->carried_switch));
  return 0;
}
