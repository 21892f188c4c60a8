#include "update/executable_header.h"

#include "update/update_error.h"

namespace vexo {
namespace {

constexpr std::size_t kPeOffsetField = 60;
constexpr std::uint64_t kPeHeaderSpan = 112;  // e + 112 must lie inside the image
constexpr std::size_t kMachineOffset = 4;
constexpr std::size_t kCharacteristicsOffset = 22;
constexpr std::size_t kOptionalMagicOffset = 24;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kOptionalMagicPe32Plus = 0x020B;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kDllImage = 0x2000;

std::uint16_t ReadLittle16(std::span<const std::uint8_t> bytes, std::size_t offset) noexcept {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t ReadLittle32(std::span<const std::uint8_t> bytes, std::size_t offset) noexcept {
  return static_cast<std::uint32_t>(bytes[offset]) |
         (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

}  // namespace

bool IsWindowsX64Executable(std::span<const std::uint8_t> image) noexcept {
  if (image.size() < kMinExecutableBytes || image[0] != 'M' || image[1] != 'Z') {
    return false;
  }
  const std::uint32_t pe = ReadLittle32(image, kPeOffsetField);
  if (std::uint64_t{pe} + kPeHeaderSpan >= image.size()) {
    return false;
  }
  if (image[pe] != 'P' || image[pe + 1] != 'E' || image[pe + 2] != 0 || image[pe + 3] != 0) {
    return false;
  }
  const std::uint16_t characteristics = ReadLittle16(image, pe + kCharacteristicsOffset);
  return ReadLittle16(image, pe + kMachineOffset) == kMachineAmd64 &&
         ReadLittle16(image, pe + kOptionalMagicOffset) == kOptionalMagicPe32Plus &&
         (characteristics & kExecutableImage) != 0 && (characteristics & kDllImage) == 0;
}

void CheckWindowsX64Executable(std::span<const std::uint8_t> image) {
  if (!IsWindowsX64Executable(image)) {
    ThrowUpdateValidationFailed();
  }
}

}  // namespace vexo
