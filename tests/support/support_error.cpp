#include "tests/support/support_error.h"

#include <windows.h>

#include "common/failure.h"

namespace vexo::test {

void ThrowSupportError(std::string_view what, std::uint32_t code) {
  std::string text(what);
  if (code != 0) {
    text += " (Windows error " + ToUtf8(DecimalText(code)) + ")";
  }
  throw SupportError(text, code);
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) {
    return {};
  }
  const int wide_length = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide_length, nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    return "<text not convertible>";
  }
  std::string out(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide_length, out.data(), length, nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int narrow_length = static_cast<int>(text.size());
  const int length =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), narrow_length, nullptr, 0);
  if (length <= 0) {
    ThrowSupportError("text is not valid UTF-8", ::GetLastError());
  }
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), narrow_length, out.data(),
                        length);
  return out;
}

}  // namespace vexo::test
