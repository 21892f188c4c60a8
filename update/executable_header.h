// Recognises a 64-bit Windows program image (not a DLL) by its headers alone.
#pragma once

#include <cstdint>
#include <span>

namespace vexo {

inline constexpr std::size_t kMinExecutableBytes = 65536;

// Whether `image` is at least 64 KiB, starts with "MZ", has a "PE\0\0" header whose machine
// is x86-64 (0x8664) with a PE32+ optional header (0x020B), and whose characteristics say
// executable image (0x0002) and not DLL (0x2000). Every read stays inside the buffer.
bool IsWindowsX64Executable(std::span<const std::uint8_t> image) noexcept;

// IsWindowsX64Executable, raising "update_validation_failed" when it does not hold.
void CheckWindowsX64Executable(std::span<const std::uint8_t> image);

}  // namespace vexo
