// Lower-case hex and the x64 executable header check.
#include <gtest/gtest.h>

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
  EXPECT_EQ(ToLowerHex(DecodeLowerHex("0a1bff")), "0a1bff");
  // Empty, odd length, upper case, not a digit, a NUL inside.
  using namespace std::string_literals;
  for (const std::string& text : {""s, "0"s, "0A"s, "0g"s, "0\0"s}) {
    EXPECT_THROW(DecodeLowerHex(text), std::runtime_error) << testing::PrintToString(text);
  }
}

// A minimal image of `size` bytes with the given header fields, and whether it is accepted.
struct ImageCase {
  std::size_t size;
  std::uint32_t pe_offset;
  std::uint16_t machine;
  std::uint16_t magic;
  std::uint16_t characteristics;
  const char* signatures;  // the two letters of MZ, then the two of PE
  bool accepted;
};

TEST(ExecutableHeaderTest, Cases) {
  const ImageCase cases[] = {
      {65536, 0x80, 0x8664, 0x020B, 0x0022, "MZPE", true},
      {65535, 0x80, 0x8664, 0x020B, 0x0022, "MZPE", false},         // one byte short
      {65536, 0x80, 0x014c, 0x010B, 0x0102, "MZPE", false},         // 32-bit
      {65536, 0x80, 0x8664, 0x010B, 0x0022, "MZPE", false},         // PE32 magic on x64
      {65536, 0x80, 0xAA64, 0x020B, 0x0022, "MZPE", false},         // ARM64
      {65536, 0x80, 0x8664, 0x020B, 0x2022, "MZPE", false},         // DLL
      {65536, 0x80, 0x8664, 0x020B, 0x0020, "MZPE", false},         // not executable
      {65536, 65536 - 113, 0x8664, 0x020B, 0x0022, "MZPE", true},   // header at the last place
      {65536, 65536 - 112, 0x8664, 0x020B, 0x0022, "MZPE", false},  // one byte too far
      {65536, 0xFFFFFFF0u, 0x8664, 0x020B, 0x0022, "MZPE", false},  // offset near 2^32
      {65536, 0x80, 0x8664, 0x020B, 0x0022, "ZMPE", false},
      {65536, 0x80, 0x8664, 0x020B, 0x0022, "MZPX", false},
      {0, 0, 0, 0, 0, "", false},  // empty
  };
  for (const ImageCase& c : cases) {
    std::vector<std::uint8_t> image(c.size, 0);
    if (c.size != 0) {
      std::memcpy(image.data(), c.signatures, 2);
      std::memcpy(&image[60], &c.pe_offset, 4);  // the build machine is little-endian
    }
    if (std::uint64_t{c.pe_offset} + 26 < c.size) {
      std::memcpy(&image[c.pe_offset], c.signatures + 2, 2);
      std::memcpy(&image[c.pe_offset + 4], &c.machine, 2);
      std::memcpy(&image[c.pe_offset + 22], &c.characteristics, 2);
      std::memcpy(&image[c.pe_offset + 24], &c.magic, 2);
    }
    EXPECT_EQ(IsWindowsX64Executable(image), c.accepted) << c.pe_offset << " " << c.machine;
    if (!c.accepted) {
      EXPECT_THROW(CheckWindowsX64Executable(image), std::runtime_error);
    }
  }
}

}  // namespace
}  // namespace vexo
