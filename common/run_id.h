// The run id: 16 random bytes written as 32 lower-case hex digits. It names a run folder and
// the run's broker service, and it is what --cleanup takes.
#pragma once

#include <cstddef>
#include <string_view>

namespace vexo {

inline constexpr std::size_t kRunIdBytes = 16;
inline constexpr std::size_t kRunIdLength = 2 * kRunIdBytes;

// Exactly 32 characters, each 0-9 or a-f.
bool IsRunId(std::wstring_view text) noexcept;

}  // namespace vexo
