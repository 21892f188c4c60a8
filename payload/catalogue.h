// The payload catalogue's shape and rules, and the allowed path lists that the deployment and
// the cleanup share. Portable: the rules are tested natively under the sanitizers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vexo {

// One embedded file: an RT_RCDATA resource of the launcher, where it goes in the run folder,
// and the SHA-256 (64 hex characters) of its bytes as built.
struct PayloadEntry {
  std::uint32_t resource_id;
  const wchar_t* relative_path;
  const char* expected_digest;
};

inline constexpr std::size_t kPayloadFileCount = 8;
inline constexpr std::uint32_t kLowestPayloadResourceId = 101;
inline constexpr std::uint32_t kHighestPayloadResourceId = 4096;

// The eight relative paths of a run folder's files, in catalogue order.
inline constexpr std::array<const wchar_t*, kPayloadFileCount> kAllowedFiles = {
    L"Vexo-Host.exe",
    L"assets\\ppcappicon.ico",
    L"assets\\fonts\\NanumSquareR.ttf",
    L"assets\\fonts\\NanumSquareB.ttf",
    L"assets\\fonts\\NanumSquareEB.ttf",
    L"assets\\fonts\\OFL.txt",
    L"assets\\fonts\\FONT_NOTICE.txt",
    L"OPENSSL_LICENSE.txt",
};

// The two folders a run creates, parent before child.
inline constexpr std::array<const wchar_t*, 2> kAllowedFolders = {L"assets", L"assets\\fonts"};

// Checks ids and paths of a catalogue before any resource is read: every id within
// 101..4096 and used once, every path one of the allowed files (ASCII case ignored) and each
// allowed file named once. Throws Failure 13.
void VerifyPayloadCatalogue(std::span<const PayloadEntry> catalogue);

}  // namespace vexo
