#include "common/ordinal_compare.h"

#include <windows.h>

#include <limits>

namespace vexo {

bool EqualsOrdinalIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept {
  if (a.size() != b.size()) {
    return false;
  }
  if (a.empty()) {
    return true;
  }
  if (a.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return false;
  }
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace vexo
