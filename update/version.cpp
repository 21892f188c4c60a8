#include "update/version.h"

#include "update/update_error.h"

namespace vexo {
namespace {

bool IsDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}

// Reads one version number from the front of `text` and drops it (and nothing else).
std::uint32_t TakeVersionNumber(std::string_view& text) {
  std::size_t length = 0;
  while (length < text.size() && IsDigit(text[length])) {
    ++length;
  }
  if (length == 0 || length > kMaxVersionNumberDigits || (length > 1 && text[0] == '0')) {
    ThrowUpdateValidationFailed();
  }
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
  }
  text.remove_prefix(length);
  return value;
}

void TakePoint(std::string_view& text) {
  if (text.empty() || text.front() != '.') {
    ThrowUpdateValidationFailed();
  }
  text.remove_prefix(1);
}

}  // namespace

ProgramVersion ParseVersion(std::string_view text) {
  ProgramVersion version;
  version.major = TakeVersionNumber(text);
  TakePoint(text);
  version.minor = TakeVersionNumber(text);
  TakePoint(text);
  version.patch = TakeVersionNumber(text);
  if (!text.empty()) {
    ThrowUpdateValidationFailed();
  }
  return version;
}

std::strong_ordering CompareVersions(const ProgramVersion& left, const ProgramVersion& right) {
  if (left.major != right.major) {
    return left.major <=> right.major;
  }
  if (left.minor != right.minor) {
    return left.minor <=> right.minor;
  }
  return left.patch <=> right.patch;
}

std::string VersionText(const ProgramVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
         std::to_string(version.patch);
}

}  // namespace vexo
