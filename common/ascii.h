// ASCII letter case folding: only 'A' to 'Z' fold, exactly as `_wcsicmp` does in the default C
// locale. Every name the launcher matches without regard to case (payload paths, role file
// names, digests) is ASCII, so no other letter can ever match one of them.
#pragma once

#include <cstddef>
#include <string_view>

namespace vexo {

template <typename Char>
constexpr Char FoldAsciiCase(Char c) noexcept {
  return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// Ordinal comparison of whole strings that ignores the case of ASCII letters.
template <typename Char>
constexpr bool EqualsIgnoringAsciiCase(std::basic_string_view<Char> a,
                                       std::basic_string_view<Char> b) noexcept {
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

constexpr bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) noexcept {
  return EqualsIgnoringAsciiCase<wchar_t>(a, b);
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
  return EqualsIgnoringAsciiCase<char>(a, b);
}

}  // namespace vexo
