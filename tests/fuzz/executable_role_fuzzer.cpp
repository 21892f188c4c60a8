// Fuzzes ExecutableMatchesRole and RoleArgumentsAllowed. The first byte picks a role, the
// rest is the path as UTF-16 code units. Short ASCII names are also matched with the
// library's regular expressions, which must agree with the hand-written matcher.
#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>
#include <string_view>

#include "update/role.h"

namespace {

constexpr std::string_view kRoles[] = {"host",      "viewer", "server", "manager",
                                       "collector", "Host",   "",       "unknown"};

bool IsAscii(std::wstring_view text) {
  for (wchar_t c : text) {
    if (c > 0x7f) {
      return false;
    }
  }
  return true;
}

std::wstring EscapedForRegex(std::wstring_view name) {
  std::wstring escaped;
  for (wchar_t c : name) {
    if (std::wstring_view(L".-()[]{}*+?^$|\\").find(c) != std::wstring_view::npos) {
      escaped += L'\\';
    }
    escaped += c;
  }
  return escaped;
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

  const std::size_t separator = path.find_last_of(L"\\/");
  const std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
  const vexo::RoleEntry* entry = vexo::FindRole(role);
  if (entry == nullptr) {
    if (matches) {
      __builtin_trap();
    }
  } else if (name.size() <= 128 && IsAscii(name)) {
    const std::wstring pattern = entry->name_rule == vexo::RoleNameRule::kCollectorNamePattern
                                     ? L"Vexolink-Collector(?:-[0-9.]+)?\\.exe"
                                     : EscapedForRegex(entry->file_name);
    const std::wregex expected(pattern, std::regex::ECMAScript | std::regex::icase);
    if (matches != std::regex_match(name, expected)) {
      __builtin_trap();
    }
  }

  // The arguments a role may carry: empty, or exactly its one switch.
  const bool allowed = vexo::RoleArgumentsAllowed(role, std::string(name.begin(), name.end()));
  if (name.empty() && !allowed) {
    __builtin_trap();
  }
  if (!name.empty() && allowed &&
      (entry == nullptr || entry->carried_switch.empty() ||
       std::string(name.begin(), name.end()) != entry->carried_switch)) {
    __builtin_trap();
  }
  return 0;
}
