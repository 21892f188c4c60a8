// Lower-case hexadecimal rendering: two digits per byte, high nibble first, from the
// alphabet "0123456789abcdef". Digests, run ids and random names all take this form.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vexo {

std::string ToLowerHex(std::span<const std::uint8_t> bytes);

// The same digits as wide text, for names the launcher gives to files and folders.
std::wstring ToLowerHexWide(std::span<const std::uint8_t> bytes);

}  // namespace vexo
