#include "payload/catalogue.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "common/ascii.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "payload/messages.h"

namespace vexo {
namespace {

bool IsPayloadResourceId(std::uint32_t id) noexcept {
  return id >= kLowestPayloadResourceId && id <= kHighestPayloadResourceId;
}

// The index of the allowed file `relative_path` names, or kPayloadFileCount.
std::size_t AllowedFileIndex(std::wstring_view relative_path) noexcept {
  for (std::size_t i = 0; i < kAllowedFiles.size(); ++i) {
    if (EqualsIgnoringAsciiCase(relative_path, kAllowedFiles[i])) {
      return i;
    }
  }
  return kAllowedFiles.size();
}

}  // namespace

void VerifyPayloadCatalogue(std::span<const PayloadEntry> catalogue) {
  std::vector<std::uint32_t> seen_ids;
  std::array<bool, kPayloadFileCount> matched{};
  for (const PayloadEntry& entry : catalogue) {
    const bool id_seen =
        std::find(seen_ids.begin(), seen_ids.end(), entry.resource_id) != seen_ids.end();
    if (entry.relative_path == nullptr || !IsPayloadResourceId(entry.resource_id) || id_seen) {
      ThrowFailure(message::kPayloadIdInvalid, error::kInvalidData);
    }
    const std::size_t match = AllowedFileIndex(entry.relative_path);
    if (match == kAllowedFiles.size() || matched[match]) {
      ThrowFailure(message::kPayloadPathNotAllowed, error::kInvalidData);
    }
    seen_ids.push_back(entry.resource_id);
    matched[match] = true;
  }
}

}  // namespace vexo
