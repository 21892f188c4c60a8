// Strict JSON reading for documents that cross a trust boundary.
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

namespace vexo {

// Parses `text` as one JSON value: no comments, nothing but white space after the value,
// UTF-8 checked by the library. An object that names one member twice is refused with
// "update_validation_failed": the library would keep only the last one, so the document
// would have more members than the object it becomes. Malformed text raises the library's
// own parse error.
nlohmann::json ParseStrictJson(std::string_view text);

// Whether `value` is a JSON number written without fraction or exponent, not negative,
// that fits an unsigned 64-bit value (the library keeps such numbers as unsigned).
bool IsNonNegativeInteger(const nlohmann::json& value) noexcept;

}  // namespace vexo
