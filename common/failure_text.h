// Turns a Failure into the text of the customer's message box.
#pragma once

#include <string>

#include "common/failure.h"

namespace vexo {

// The message, a line feed, "오류 " and the decimal code, then ": " and the system's own
// description of the code exactly as Windows gives it, when Windows has one.
std::wstring FormatFailureText(const Failure& failure);

}  // namespace vexo
