// Lower-case hex and the x64 executable header check.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/hex.h"
#include "update/executable_header.h"
#include "update/manifest.h"

namespace vexo {
namespace {

TEST(HexTest, DecodeLowerHex) {
  const std::pair<std::string, std::vector<std::uint8_t>> valid[] = {
      {"00", {0x00}}, {"0a1bff", {0x0a, 0x1b, 0xff}}};
  for (const auto& [text, bytes] : valid) {
    EXPECT_EQ(DecodeLowerHex(text), bytes);
    EXPECT_EQ(ToLowerHex(bytes), text);
  }
  const std::string refused[] = {"", "0", "0A", "0g", " 00", "0x00", std::string("0\0", 2)};
  for (const std::string& text : refused) {
    EXPECT_THROW(DecodeLowerHex(text), std::runtime_error) << testing::PrintToString(text);
  }
}

// A minimal image with the given header fields, `size` bytes long.
std::vector<std::uint8_t> Image(std::size_t size,
                                std::uint32_t pe_offset = 0x80,
                                std::uint16_t machine = 0x8664,
                                std::uint16_t magic = 0x020B,
                                std::uint16_t characteristics = 0x0022) {
  std::vector<std::uint8_t> image(size, 0);
  if (size >= 64) {
    std::memcpy(image.data(), "MZ", 2);
    std::memcpy(&image[60], &pe_offset, 4);  // the build machine is little-endian
  }
  if (std::uint64_t{pe_offset} + 26 < size) {
    std::memcpy(&image[pe_offset], "PE\0\0", 4);
    std::memcpy(&image[pe_offset + 4], &machine, 2);
    std::memcpy(&image[pe_offset + 22], &characteristics, 2);
    std::memcpy(&image[pe_offset + 24], &magic, 2);
  }
  return image;
}

TEST(ExecutableHeaderTest, Cases) {
  std::vector<std::uint8_t> no_mz = Image(65536);
  no_mz[0] = 'Z';
  std::vector<std::uint8_t> no_pe = Image(65536);
  no_pe[0x82] = 1;
  const std::pair<std::vector<std::uint8_t>, bool> cases[] = {
      {Image(65536), true},
      {Image(65535), false},                                // one byte short
      {Image(65536, 0x80, 0x014c, 0x010B, 0x0102), false},  // 32-bit
      {Image(65536, 0x80, 0x8664, 0x010B), false},          // PE32 magic on x64
      {Image(65536, 0x80, 0xAA64), false},                  // ARM64
      {Image(65536, 0x80, 0x8664, 0x020B, 0x2022), false},  // DLL
      {Image(65536, 0x80, 0x8664, 0x020B, 0x0020), false},  // not executable
      {Image(65536, 65536 - 113), true},                    // header at the last place
      {Image(65536, 65536 - 112), false},                   // one byte too far
      {Image(65536, 0xFFFFFFF0u), false},                   // offset near 2^32
      {no_mz, false},
      {no_pe, false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(IsWindowsX64Executable(cases[i].first), cases[i].second) << "row " << i;
    if (!cases[i].second) {
      EXPECT_THROW(CheckWindowsX64Executable(cases[i].first), std::runtime_error) << "row " << i;
    }
  }
}

}  // namespace
}  // namespace vexo
