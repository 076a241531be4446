// ASCII classification and case folding for protocol words, names and paths.
// Only the 26 Latin letters change case; every other code unit, in any of the
// character types, stays exactly as it is.
#pragma once

#include <cstddef>
#include <string_view>

namespace veltrona {

template <typename Char>
constexpr Char ToAsciiLower(Char c) noexcept {
  return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char>
constexpr Char ToAsciiUpper(Char c) noexcept {
  return (c >= Char('a') && c <= Char('z')) ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}

template <typename Char>
constexpr bool IsAsciiLetter(Char c) noexcept {
  return (c >= Char('a') && c <= Char('z')) || (c >= Char('A') && c <= Char('Z'));
}

template <typename Char>
constexpr bool IsAsciiDigit(Char c) noexcept {
  return c >= Char('0') && c <= Char('9');
}

// Compares ASCII letters without regard to case; other code units must match.
template <typename Char>
constexpr bool EqualsIgnoringAsciiCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToAsciiLower(a[i]) != ToAsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace veltrona
