#include "base/system_error.h"

namespace veltrona {

namespace {
// Room that " (0x" + eight digits + ")" and the terminator may take.
constexpr size_t kCodeSuffixReserve = 14;
}  // namespace

std::u16string FormatSystemErrorText(std::u16string_view system_text, uint32_t code) {
  if (system_text.empty() || system_text.size() + kCodeSuffixReserve > kErrorTextCapacity) {
    return {};
  }
  // System texts end in CR LF; drop only line-end characters so that a text
  // without one keeps its last words.
  size_t end = system_text.size();
  for (int i = 0; i < 2 && end > 0 && (system_text[end - 1] == u'\n' || system_text[end - 1] == u'\r'); ++i) {
    --end;
  }
  std::u16string result(system_text.substr(0, end));
  result += u" (0x";
  char16_t digits[8];
  size_t count = 0;
  do {
    const uint32_t nibble = code & 0xF;
    digits[count++] = static_cast<char16_t>(nibble < 10 ? u'0' + nibble : u'a' + (nibble - 10));
    code >>= 4;
  } while (code != 0);
  while (count > 0) result += digits[--count];
  result += u')';
  return result;
}

}  // namespace veltrona
