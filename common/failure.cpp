#include "common/failure.h"

#include <utility>

#include "common/error_codes.h"

namespace vexo {

void ThrowFailure(std::wstring message, std::uint32_t code) {
  throw Failure{code == 0 ? error::kInvalidData : code, std::move(message)};
}

std::wstring DecimalText(std::uint64_t value) {
  wchar_t digits[20];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::wstring text;
  text.reserve(count);
  while (count > 0) {
    text.push_back(digits[--count]);
  }
  return text;
}

}  // namespace vexo
