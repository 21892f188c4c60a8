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

}  // namespace

std::string ToLowerHex(std::span<const std::uint8_t> bytes) {
  return RenderLowerHex<std::string>(bytes);
}

std::wstring ToLowerHexWide(std::span<const std::uint8_t> bytes) {
  return RenderLowerHex<std::wstring>(bytes);
}

}  // namespace vexo
