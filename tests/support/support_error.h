// Errors of the test support.
//
// Test tooling reports its own failures (a program that could not be started, a resource that
// could not be patched) as SupportError, a std::runtime_error with UTF-8 text, so GoogleTest and
// vexo-testctl print the reason. The launcher's own Failure is deliberately not used here: a
// failure of the bench must never be mistaken for a result of the product.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vexo::test {

class SupportError : public std::runtime_error {
 public:
  SupportError(const std::string& what, std::uint32_t code)
      : std::runtime_error(what), code_(code) {}
  std::uint32_t code() const noexcept { return code_; }

 private:
  std::uint32_t code_;
};

// Throws SupportError with "what (Windows error N)". Read GetLastError() right after the failing
// call and pass it as `code`; 0 means no Windows error is involved.
[[noreturn]] void ThrowSupportError(std::string_view what, std::uint32_t code);

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
std::string ToUtf8(std::wstring_view text);
// UTF-8 to UTF-16; invalid input throws SupportError.
std::wstring FromUtf8(std::string_view text);

}  // namespace vexo::test
