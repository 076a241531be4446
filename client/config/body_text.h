// Turning downloaded bytes into text, and the limits of the client's fixed
// 260-character buffers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "client/xml/xml_encoding.h"

namespace veltrona::config {

// Paths and control texts travel in buffers of this many UTF-16 units, the
// terminator included.
inline constexpr std::size_t kTextBufferChars = 260;
inline constexpr std::size_t kMaxTextChars = kTextBufferChars - 1;

// A body sized from Content-Length keeps zero bytes where the read fell
// short; they are padding, not text.
std::string_view WithoutZeroPadding(std::string_view body);

// Cached text comes back from the registry with its terminator.
std::u16string_view WithoutTrailingNuls(std::u16string_view text);

// The body as ANSI text (the server list). Zero padding is dropped first;
// a zero byte that is still inside means the body is not text, and the
// result is empty.
std::u16string DecodeAnsiBody(std::string_view body, xml::XmlCodePageDecoder decoder);

// The body as UTF-8 text (the update check); ill-formed sequences become
// U+FFFD. Same zero-byte rule as above.
std::u16string DecodeUtf8Body(std::string_view body);

// The text cut to fit a 260-unit buffer, never splitting a surrogate pair.
std::u16string CutToTextBuffer(std::u16string_view text);

}  // namespace veltrona::config
