// Roles of the product family: the file name a program of a role must have and the one
// switch it may be restarted with after an update.
#pragma once

#include <span>
#include <string_view>

namespace vexo {

inline constexpr char kHostRole[] = "host";

// How a role's executable is recognised by its file name.
enum class RoleNameRule {
  kExactName,            // the role's file name, without regard to ASCII case
  kCollectorNamePattern  // "Vexolink-Collector(?:-[0-9.]+)?\.exe", without regard to case
};

struct RoleEntry {
  std::string_view role;  // compared exactly, with case
  RoleNameRule name_rule;
  std::wstring_view file_name;      // the name (kExactName) or the pattern's fixed stem
  std::string_view carried_switch;  // the one switch kept over an update; empty: none
};

// The role table of the product family.
std::span<const RoleEntry> RoleTable() noexcept;

// The table entry of `role`, or nullptr for a role the family does not have.
const RoleEntry* FindRole(std::string_view role) noexcept;

// Whether the last component of `executable_path` (after the last '\' or '/') is a file
// name of `role`. An unknown role matches nothing.
bool ExecutableMatchesRole(std::string_view role, std::wstring_view executable_path);

// Whether a restarted program of `role` may be given `arguments`: empty always, otherwise
// exactly the role's carried switch.
bool RoleArgumentsAllowed(std::string_view role, std::string_view arguments);

}  // namespace vexo
