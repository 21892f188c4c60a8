// The fixed catalogue of embedded payload files and the allowed path lists shared by the
// deployment and the cleanup.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vexo {

// One embedded file: an RT_RCDATA resource of the launcher, where it goes in the run
// folder, and the SHA-256 (64 hex characters) of its bytes as built.
struct PayloadEntry {
  std::uint32_t resource_id;
  const wchar_t* relative_path;
  const char* expected_digest;
};

inline constexpr std::size_t kPayloadFileCount = 8;
inline constexpr std::uint32_t kLowestPayloadResourceId = 101;
inline constexpr std::uint32_t kHighestPayloadResourceId = 4096;

// Catalogue order is deployment order and the order of removal after a failed deployment.
extern const std::array<PayloadEntry, kPayloadFileCount> kPayloadCatalogue;

// The same eight relative paths, in the same order.
extern const std::array<const wchar_t*, kPayloadFileCount> kAllowedFiles;

// The two folders a run creates, parent before child.
extern const std::array<const wchar_t*, 2> kAllowedFolders;

// Checks ids and paths of a catalogue (the compiled-in one by default) before any
// resource is read. Throws Failure 13.
void VerifyPayloadCatalogue(std::span<const PayloadEntry> catalogue);
void VerifyPayloadCatalogue();

}  // namespace vexo
