// The launcher's one error record and the one way of raising it.
//
// A Failure carries the Windows error code that becomes the process exit code and the
// complete Korean sentence the customer reads. It deliberately does not derive from
// std::exception, so a handler for standard exceptions never swallows one.
#pragma once

#include <cstdint>
#include <string>

namespace vexo {

struct Failure {
  std::uint32_t code;
  std::wstring message;
};

// Throws a Failure. A code of 0 would report success for a failure, so it becomes
// ERROR_INVALID_DATA (13). Callers read GetLastError() right after the failing call,
// before they build the message.
[[noreturn]] void ThrowFailure(std::wstring message, std::uint32_t code);

// Unsigned decimal digits, no sign, separators or leading zeros ("0" for zero).
std::wstring DecimalText(std::uint64_t value);

}  // namespace vexo
