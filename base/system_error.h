// System error texts, the portable half: how a code and the system's text
// for it become the line the console commands print. The Windows half, which
// asks the system for the text, is system_error_win.*.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltrona {

// Size, in characters and including the terminator, of the buffer that holds
// a formatted error text.
inline constexpr size_t kErrorTextCapacity = 256;

// Turns the system's message text for `code` into "<text> (0x<code>)", the
// code in lower-case hexadecimal without leading zeros. The system text's
// line end is dropped. A missing text, or one too long for the buffer once
// the code is added, gives an empty result.
std::u16string FormatSystemErrorText(std::u16string_view system_text, uint32_t code);

}  // namespace veltrona
