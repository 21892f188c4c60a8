// The startup update's single failure: every check of the update raises the same standard
// runtime error, so callers never tell one refusal from another (and cannot leak which
// check an attacker tripped).
#pragma once

#include <exception>

namespace vexo {

inline constexpr char kUpdateValidationFailed[] = "update_validation_failed";

// Throws std::runtime_error("update_validation_failed").
[[noreturn]] void ThrowUpdateValidationFailed();

// Throws the update's single failure unless `condition` holds. Inline, so the compiler sees
// that what follows a failed check is never reached.
inline void RequireUpdate(bool condition) {
  if (!condition) {
    ThrowUpdateValidationFailed();
  }
}

// Whether `error` is the update's own refusal (and not, say, a JSON library error).
bool IsUpdateValidationFailure(const std::exception& error) noexcept;

}  // namespace vexo
