// Lower-case hexadecimal text: two digits per byte, high nibble first, from the alphabet
// "0123456789abcdef". Digests, keys, signatures, run ids and random names all take this form,
// and it is the only form the launcher accepts from outside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {

std::string ToLowerHex(std::span<const std::uint8_t> bytes);

// The same digits as wide text, for names the launcher gives to files, folders and services.
std::wstring ToLowerHexWide(std::span<const std::uint8_t> bytes);

// Whether `text` has exactly `length` characters, each '0'-'9' or 'a'-'f'.
bool IsLowerHexOfLength(std::string_view text, std::size_t length) noexcept;
bool IsLowerHexOfLength(std::wstring_view text, std::size_t length) noexcept;

// Even length, at least two characters, only '0'-'9' and 'a'-'f'; each pair is one byte, high
// nibble first. Nothing for any other text.
std::optional<std::vector<std::uint8_t>> ParseLowerHex(std::string_view text);

}  // namespace vexo
