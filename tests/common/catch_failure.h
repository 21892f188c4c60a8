// Test helpers: the refusal an operation throws, as one comparable text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/failure.h"

namespace vexo {

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
