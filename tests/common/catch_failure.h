// Test helpers: the Failure an operation throws.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/failure.h"

namespace vexo {

// Runs `call` and returns the Failure it throws; fails the test when it throws none.
template <typename Call>
Failure CatchFailure(Call&& call) {
  try {
    call();
  } catch (const Failure& failure) {
    return failure;
  }
  ADD_FAILURE() << "no Failure was thrown";
  return Failure{0, L""};
}

// A refusal as one comparable text: "code: message".
inline std::wstring Refusal(std::uint32_t code, const std::wstring& message) {
  return DecimalText(code) + L": " + message;
}

// The refusal `call` throws as Refusal() writes it, or "" when it throws none.
template <typename Call>
std::wstring RefusalOf(Call&& call) {
  try {
    call();
  } catch (const Failure& failure) {
    return Refusal(failure.code, failure.message);
  }
  return L"";
}

}  // namespace vexo
