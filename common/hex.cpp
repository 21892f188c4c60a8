#include "common/hex.h"

namespace vexo {
namespace {

constexpr char kLowerHexDigits[] = "0123456789abcdef";

template <typename Text>
Text RenderLowerHex(std::span<const std::uint8_t> bytes) {
  Text text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    text.push_back(static_cast<typename Text::value_type>(kLowerHexDigits[byte >> 4]));
    text.push_back(static_cast<typename Text::value_type>(kLowerHexDigits[byte & 0x0F]));
  }
  return text;
}

// The value of a lower-case hex digit, or -1.
template <typename Char>
int LowerHexValue(Char c) noexcept {
  if (c >= Char('0') && c <= Char('9')) {
    return static_cast<int>(c - Char('0'));
  }
  if (c >= Char('a') && c <= Char('f')) {
    return static_cast<int>(c - Char('a')) + 10;
  }
  return -1;
}

template <typename Char>
bool IsLowerHexOfLengthImpl(std::basic_string_view<Char> text, std::size_t length) noexcept {
  if (text.size() != length) {
    return false;
  }
  for (Char c : text) {
    if (LowerHexValue(c) < 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string ToLowerHex(std::span<const std::uint8_t> bytes) {
  return RenderLowerHex<std::string>(bytes);
}

std::wstring ToLowerHexWide(std::span<const std::uint8_t> bytes) {
  return RenderLowerHex<std::wstring>(bytes);
}

bool IsLowerHexOfLength(std::string_view text, std::size_t length) noexcept {
  return IsLowerHexOfLengthImpl(text, length);
}

bool IsLowerHexOfLength(std::wstring_view text, std::size_t length) noexcept {
  return IsLowerHexOfLengthImpl(text, length);
}

std::optional<std::vector<std::uint8_t>> ParseLowerHex(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = LowerHexValue(text[i]);
    const int low = LowerHexValue(text[i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return bytes;
}

}  // namespace vexo
