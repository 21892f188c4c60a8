// Lower-case hex and the x64 executable header check.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/hex.h"
#include "update/executable_header.h"
#include "update/manifest.h"

namespace vexo {
namespace {

TEST(HexTest, DecodeLowerHex) {
  struct Case {
    const char* text;
    bool valid;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {"00", true, {0x00}},
      {"0a1bff", true, {0x0a, 0x1b, 0xff}},
      {"0123456789abcdef", true, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}},
      {"", false, {}},
      {"0", false, {}},
      {"abc", false, {}},
      {"0A", false, {}},
      {"FF", false, {}},
      {"0g", false, {}},
      {" 00", false, {}},
      {"00 ", false, {}},
      {"0x00", false, {}},
      {"-1", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.valid) {
      EXPECT_EQ(DecodeLowerHex(c.text), c.bytes);
      EXPECT_EQ(ToLowerHex(c.bytes), c.text);
    } else {
      EXPECT_THROW(DecodeLowerHex(c.text), std::runtime_error);
    }
  }
  EXPECT_THROW(DecodeLowerHex(std::string("0\0", 2)), std::runtime_error);
}

TEST(HexTest, EveryByteRoundTrips) {
  std::vector<std::uint8_t> all(256);
  for (std::size_t i = 0; i < all.size(); ++i) {
    all[i] = static_cast<std::uint8_t>(i);
  }
  const std::string text = ToLowerHex(all);
  ASSERT_EQ(text.size(), 512u);
  EXPECT_TRUE(IsLowerHexOfLength(text, 512));
  EXPECT_FALSE(IsLowerHexOfLength(text, 511));
  EXPECT_EQ(DecodeLowerHex(text), all);
}

// A minimal image with the given header fields, `size` bytes long.
std::vector<std::uint8_t> Image(std::size_t size,
                                std::uint32_t pe_offset = 0x80,
                                std::uint16_t machine = 0x8664,
                                std::uint16_t magic = 0x020B,
                                std::uint16_t characteristics = 0x0022) {
  std::vector<std::uint8_t> image(size, 0);
  const auto put16 = [&image](std::size_t at, std::uint16_t v) {
    if (at + 1 < image.size()) {
      image[at] = static_cast<std::uint8_t>(v);
      image[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
  };
  if (size >= 64) {
    image[0] = 'M';
    image[1] = 'Z';
    std::memcpy(&image[60], &pe_offset, 4);  // the build machine is little-endian
  }
  if (std::uint64_t{pe_offset} + 26 < size) {
    std::memcpy(&image[pe_offset], "PE\0\0", 4);
    put16(pe_offset + 4, machine);
    put16(pe_offset + 22, characteristics);
    put16(pe_offset + 24, magic);
  }
  return image;
}

TEST(ExecutableHeaderTest, Cases) {
  struct Case {
    const char* name;
    std::function<std::vector<std::uint8_t>()> image;
    bool accepted;
  };
  const Case cases[] = {
      {"x64 program", [] { return Image(65536); }, true},
      {"one byte short", [] { return Image(65535); }, false},
      {"empty", [] { return std::vector<std::uint8_t>(); }, false},
      {"32-bit machine", [] { return Image(65536, 0x80, 0x014c, 0x010B, 0x0102); }, false},
      {"PE32 magic on x64", [] { return Image(65536, 0x80, 0x8664, 0x010B); }, false},
      {"ARM64", [] { return Image(65536, 0x80, 0xAA64); }, false},
      {"DLL", [] { return Image(65536, 0x80, 0x8664, 0x020B, 0x2022); }, false},
      {"not executable", [] { return Image(65536, 0x80, 0x8664, 0x020B, 0x0020); }, false},
      {"header at the last allowed place", [] { return Image(65536, 65536 - 113); }, true},
      {"header one byte too far", [] { return Image(65536, 65536 - 112); }, false},
      {"header offset near 2^32", [] { return Image(65536, 0xFFFFFFF0u); }, false},
      {"no MZ",
       [] {
         auto i = Image(65536);
         i[0] = 'Z';
         return i;
       },
       false},
      {"no PE signature",
       [] {
         auto i = Image(65536);
         i[0x82] = 1;
         return i;
       },
       false},
  };
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> image = c.image();
    EXPECT_EQ(IsWindowsX64Executable(image), c.accepted) << c.name;
    if (!c.accepted) {
      EXPECT_THROW(CheckWindowsX64Executable(image), std::runtime_error) << c.name;
    }
  }
}

}  // namespace
}  // namespace vexo
