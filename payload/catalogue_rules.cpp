// Consistency rules of a payload catalogue. Portable: the native build tests them under the
// sanitizers.
#include <array>
#include <string_view>
#include <vector>

#include "common/error_codes.h"
#include "common/failure.h"
#include "payload/catalogue.h"
#include "payload/messages.h"

namespace vexo {
namespace {

wchar_t FoldAsciiCase(wchar_t c) noexcept {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Ordinal comparison of whole strings that ignores the case of ASCII letters; the allowed
// paths are ASCII, so no other letter can match one of them.
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) {
      return false;
    }
  }
  return true;
}

bool IsPayloadResourceId(std::uint32_t id) noexcept {
  return id >= kLowestPayloadResourceId && id <= kHighestPayloadResourceId;
}

}  // namespace

void VerifyPayloadCatalogue(std::span<const PayloadEntry> catalogue) {
  std::vector<std::uint32_t> seen_ids;
  std::array<bool, kPayloadFileCount> matched{};
  for (const PayloadEntry& entry : catalogue) {
    if (entry.relative_path == nullptr || !IsPayloadResourceId(entry.resource_id)) {
      ThrowFailure(message::kPayloadIdInvalid, error::kInvalidData);
    }
    for (std::uint32_t id : seen_ids) {
      if (id == entry.resource_id) {
        ThrowFailure(message::kPayloadIdInvalid, error::kInvalidData);
      }
    }
    std::size_t match = kAllowedFiles.size();
    for (std::size_t i = 0; i < kAllowedFiles.size(); ++i) {
      if (EqualsIgnoringCase(entry.relative_path, kAllowedFiles[i])) {
        match = i;
        break;
      }
    }
    if (match == kAllowedFiles.size() || matched[match]) {
      ThrowFailure(message::kPayloadPathNotAllowed, error::kInvalidData);
    }
    seen_ids.push_back(entry.resource_id);
    matched[match] = true;
  }
}

}  // namespace vexo
