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

}  // namespace veltrona
