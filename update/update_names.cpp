#include "update/update_names.h"

#include <limits>

#include "common/hex.h"
#include "update/role.h"

namespace vexo {

std::optional<std::uint32_t> ParseWorkerProcessId(std::wstring_view text) noexcept {
  if (text.empty() || text.size() > kMaxProcessIdDigits || text.front() == L'0') {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  if (value > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

bool IsStagingFolderName(std::wstring_view name) noexcept {
  const std::wstring_view prefix = kStagingFolderPrefix;
  return name.starts_with(prefix) &&
         IsLowerHexOfLength(name.substr(prefix.size()), kRandomNameDigits);
}

std::wstring StagingFolderName(std::wstring_view random_digits) {
  return std::wstring(kStagingFolderPrefix).append(random_digits);
}

std::wstring ReadyEventName(std::wstring_view staging_folder_name) {
  const std::wstring_view prefix = kStagingFolderPrefix;
  const std::wstring_view digits = staging_folder_name.starts_with(prefix)
                                       ? staging_folder_name.substr(prefix.size())
                                       : staging_folder_name;
  return std::wstring(kReadyEventPrefix).append(digits);
}

std::optional<std::string> SavedArgumentsFor(std::string_view role,
                                             std::span<const std::wstring> arguments) {
  if (arguments.empty()) {
    return std::string();
  }
  const RoleEntry* entry = FindRole(role);
  if (arguments.size() != 1 || entry == nullptr || entry->carried_switch.empty() ||
      arguments.front() != WidenAscii(entry->carried_switch)) {
    return std::nullopt;
  }
  return std::string(entry->carried_switch);
}

std::wstring WidenAscii(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (char c : text) {
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return wide;
}

std::optional<std::string> NarrowAscii(std::wstring_view text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (wchar_t c : text) {
    if (static_cast<std::uint32_t>(c) > 0x7F) {
      return std::nullopt;
    }
    narrow.push_back(static_cast<char>(c));
  }
  return narrow;
}

}  // namespace vexo
