// Windows' ordinal comparison of names that ignores letter case (CompareStringOrdinal): how the
// file system and the service control manager compare the paths and names they hand out.
#pragma once

#include <string_view>

namespace vexo {

// Whole strings, ordinal, case ignored. Strings of different length are never equal.
bool EqualsOrdinalIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept;

}  // namespace vexo
