// Lower-case hexadecimal text, the only form digests, keys and signatures take on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex.h"  // ToLowerHex

namespace vexo {

// Whether `text` consists only of '0'-'9' and 'a'-'f' and has exactly `length` characters.
bool IsLowerHexOfLength(std::string_view text, std::size_t length) noexcept;

// Even length, at least two characters, only '0'-'9' and 'a'-'f'; each pair is one byte,
// high nibble first. Throws "update_validation_failed" otherwise.
std::vector<std::uint8_t> DecodeLowerHex(std::string_view text);

}  // namespace vexo
