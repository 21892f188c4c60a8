// The update server client: one HTTPS GET through WinHTTP that returns within its deadline.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vexo {

inline constexpr wchar_t kUpdateUserAgent[] = L"Vexolink-Startup-Update/1";
inline constexpr std::uint16_t kUpdateServerPort = 443;
inline constexpr std::uint32_t kResolveTimeoutMs = 2500;
inline constexpr std::uint32_t kConnectTimeoutMs = 2500;
inline constexpr std::uint32_t kSendTimeoutMs = 2500;
inline constexpr std::uint32_t kReceiveTimeoutMs = 4000;
inline constexpr std::size_t kReadChunkBytes = 65536;
// A body of at most this many bytes must arrive within the short deadline.
inline constexpr std::uint64_t kShortDeadlineBodyLimit = 16384;
inline constexpr std::uint64_t kShortDeadlineMs = 10000;
inline constexpr std::uint64_t kLongDeadlineMs = 120000;

// GET https://<update server>:443<path>. Only status 200 counts; redirects are not followed;
// a body over `body_limit` fails as soon as it would pass the limit. The whole call, from its
// start to the last byte, ends within the deadline (10 s for bodies up to 16 KiB, else 120 s):
// every blocking phase waits at most for what is left of it. Every failure raises
// "update_validation_failed".
std::vector<std::uint8_t> UpdateHttpGet(std::string_view path,
                                        std::uint64_t body_limit,
                                        std::wstring_view header_text);

}  // namespace vexo
