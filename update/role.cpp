#include "update/role.h"

#include <array>

#include "common/ascii.h"

namespace vexo {
namespace {

constexpr std::array<RoleEntry, 5> kRoleTable = {{
    {"host", RoleNameRule::kExactName, L"Vexo-Host.exe", ""},
    {"viewer", RoleNameRule::kExactName, L"Vexo-Viewer.exe", ""},
    {"server", RoleNameRule::kExactName, L"Vexo-Server.exe", "--managed"},
    {"manager", RoleNameRule::kExactName, L"Vexo-Server-Manager.exe", ""},
    {"collector", RoleNameRule::kCollectorNamePattern, L"Vexolink-Collector", "--start-collection"},
}};

constexpr std::wstring_view kExeSuffix = L".exe";

bool StartsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view prefix) noexcept {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view suffix) noexcept {
  return text.size() >= suffix.size() &&
         EqualsIgnoringAsciiCase(text.substr(text.size() - suffix.size()), suffix);
}

// The collector pattern "<stem>(?:-[0-9.]+)?\.exe", matched by hand: a library regex engine
// recurses per character and would let a long hostile name exhaust the stack.
bool MatchesCollectorPattern(std::wstring_view name, std::wstring_view stem) noexcept {
  if (!StartsWithIgnoringAsciiCase(name, stem)) {
    return false;
  }
  std::wstring_view rest = name.substr(stem.size());
  if (EqualsIgnoringAsciiCase(rest, kExeSuffix)) {
    return true;
  }
  if (rest.empty() || rest.front() != L'-' || !EndsWithIgnoringAsciiCase(rest, kExeSuffix)) {
    return false;
  }
  const std::wstring_view numbers = rest.substr(1, rest.size() - 1 - kExeSuffix.size());
  if (numbers.empty()) {
    return false;
  }
  for (wchar_t c : numbers) {
    if (!((c >= L'0' && c <= L'9') || c == L'.')) {
      return false;
    }
  }
  return true;
}

std::wstring_view LastPathComponent(std::wstring_view path) noexcept {
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

}  // namespace

std::span<const RoleEntry> RoleTable() noexcept {
  return kRoleTable;
}

const RoleEntry* FindRole(std::string_view role) noexcept {
  for (const RoleEntry& entry : kRoleTable) {
    if (entry.role == role) {
      return &entry;
    }
  }
  return nullptr;
}

bool ExecutableMatchesRole(std::string_view role, std::wstring_view executable_path) {
  const RoleEntry* entry = FindRole(role);
  if (entry == nullptr) {
    return false;
  }
  const std::wstring_view name = LastPathComponent(executable_path);
  switch (entry->name_rule) {
    case RoleNameRule::kExactName:
      return EqualsIgnoringAsciiCase(name, entry->file_name);
    case RoleNameRule::kCollectorNamePattern:
      return MatchesCollectorPattern(name, entry->file_name);
  }
  return false;
}

bool RoleArgumentsAllowed(std::string_view role, std::string_view arguments) {
  if (arguments.empty()) {
    return true;
  }
  const RoleEntry* entry = FindRole(role);
  return entry != nullptr && !entry->carried_switch.empty() && arguments == entry->carried_switch;
}

}  // namespace vexo
