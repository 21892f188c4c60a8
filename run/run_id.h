// The run id and the names derived from it: 16 random bytes written as 32 lower-case hex
// digits. It names a run folder and the run's broker service, and it is what --cleanup takes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vexo {

inline constexpr std::size_t kRunIdBytes = 16;
inline constexpr std::size_t kRunIdLength = 2 * kRunIdBytes;

// The broker service of a run is this prefix directly followed by the run id.
inline constexpr wchar_t kBrokerServicePrefix[] = L"VexoDesktopBrokerPortable";

// Exactly 32 characters, each 0-9 or a-f.
bool IsRunId(std::wstring_view text) noexcept;

// "VexoDesktopBrokerPortable" followed by the run id, no separator.
std::wstring BrokerServiceName(std::wstring_view run_id);

}  // namespace vexo
