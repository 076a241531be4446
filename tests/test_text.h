// Wide and UTF-16 text for the tests' own messages and for files a test hands
// to a script: ASCII as it is, any other code unit as '?'.
#pragma once

#include <string>
#include <string_view>

namespace veltrona::test_support {

template <typename Char>
std::string Ascii(std::basic_string_view<Char> text) {
  std::string out;
  out.reserve(text.size());
  for (const Char c : text) out.push_back(static_cast<unsigned>(c) < 0x80 ? static_cast<char>(c) : '?');
  return out;
}
inline std::string Ascii(std::u16string_view text) { return Ascii<char16_t>(text); }
inline std::string Ascii(std::wstring_view text) { return Ascii<wchar_t>(text); }

}  // namespace veltrona::test_support
