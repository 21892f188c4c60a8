// Damaging copies of executables on purpose: removing one resource or changing one byte of one
// RT_RCDATA resource, through the system's own resource update functions. Tests use it to make
// launchers with a missing or corrupted embedded file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vexo::test {

// Copies `source` to `destination`; fails when the destination exists.
void CopyFileFresh(const std::wstring& source, const std::wstring& destination);

// The bytes of resource `id` of `type` in `file` (first language found). Throws when missing.
std::vector<std::uint8_t> ReadResource(const std::wstring& file, LPCWSTR type, std::uint16_t id);

// True when `file` has resource `id` of `type`.
bool HasResource(const std::wstring& file, LPCWSTR type, std::uint16_t id);

// Removes resource `id` of `type` (every language of it) from `file`.
void RemoveResource(const std::wstring& file, LPCWSTR type, std::uint16_t id);

// Inverts the byte at `offset` of RT_RCDATA resource `id` in `file` (every language of it).
// Throws when the resource is missing or shorter than offset + 1.
void FlipResourceByte(const std::wstring& file, std::uint16_t id, std::uint32_t offset);

}  // namespace vexo::test
