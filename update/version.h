// Program versions: three numbers, compared as numbers.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexo {

struct ProgramVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
};

// Each number is one to five digits without a leading zero.
inline constexpr std::size_t kMaxVersionNumberDigits = 5;

// Accepts exactly "(0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4})": nothing
// before, between or after. Throws "update_validation_failed" otherwise.
ProgramVersion ParseVersion(std::string_view text);

// Major, then minor, then patch; the first that differs decides.
std::strong_ordering CompareVersions(const ProgramVersion& left, const ProgramVersion& right);

// "major.minor.patch" in decimal.
std::string VersionText(const ProgramVersion& version);

}  // namespace vexo
