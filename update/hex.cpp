#include "update/hex.h"

#include "update/update_error.h"

namespace vexo {
namespace {

// The value of a lower-case hex digit, or -1.
int LowerHexValue(char c) noexcept {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

}  // namespace

bool IsLowerHexOfLength(std::string_view text, std::size_t length) noexcept {
  if (text.size() != length) {
    return false;
  }
  for (char c : text) {
    if (LowerHexValue(c) < 0) {
      return false;
    }
  }
  return true;
}

std::vector<std::uint8_t> DecodeLowerHex(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0) {
    ThrowUpdateValidationFailed();
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = LowerHexValue(text[i]);
    const int low = LowerHexValue(text[i + 1]);
    if (high < 0 || low < 0) {
      ThrowUpdateValidationFailed();
    }
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return bytes;
}

}  // namespace vexo
