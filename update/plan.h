// The update plan (plan.json) that the startup check leaves for the worker, and the record
// (applied.json) the worker leaves after a successful update. The writers fix the bytes:
// compact JSON, members in byte order of their names, UTF-8 written as it is. The reader
// applies every member rule, since the worker trusts nothing in the staging folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexo {

inline constexpr std::size_t kMaxPlanBytes = 32768;
inline constexpr std::size_t kPlanMembers = 7;
inline constexpr std::size_t kMaxPlanTargetBytes = 99;
inline constexpr std::uint64_t kPlanSchema = 1;

struct UpdatePlan {
  std::string arguments;              // the saved arguments of the restarted program
  std::string manifest;               // the manifest text exactly as received
  std::string old_hash;               // lower-case hex SHA-256 of the program before the update
  std::uint64_t parent_creation = 0;  // FILETIME creation time of the process that wrote it
  std::string role;
  std::string target;  // the program's file name
};

std::string UpdatePlanText(const UpdatePlan& plan);

// Every member rule: at most 32768 bytes, one object of exactly seven members, schema 1, the
// worker's role, a target shorter than 100 bytes without "/", "\" or ":", string members,
// oldHash of 64 lower-case hex digits, arguments the role allows, parentCreation a
// non-negative integer. Raises "update_validation_failed" or the JSON library's error.
UpdatePlan ReadUpdatePlan(std::string_view text, std::string_view role);

std::string AppliedRecordText(std::string_view role,
                              std::string_view sha256,
                              std::string_view version);

}  // namespace vexo
