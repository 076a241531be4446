// Conversions between the portable UTF-16 text type and the platform's wide
// text. Code units are copied one by one; no pointer casts between char16_t
// and wchar_t, which the compiler treats as unrelated types.
#pragma once

#include <string>
#include <string_view>

namespace veltrona {

inline std::u16string ToU16(std::wstring_view text) {
  return std::u16string(text.begin(), text.end());
}

inline std::wstring ToWide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

// ASCII-only text, such as protocol words and fixed names, widened.
inline std::u16string AsciiToU16(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

// Compares ASCII letters without regard to case; other code units must match.
template <typename Char>
bool EqualsIgnoringAsciiCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](Char c) { return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace veltrona
