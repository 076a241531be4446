// Encoding names, UTF-8 checks and the conversion of 8-bit text to UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltrona::xml {

// Code page 0 stands for the system's ANSI code page, as CP_ACP does.
constexpr std::uint32_t XML_CP_ANSI = 0;
constexpr std::uint32_t XML_CP_UTF8 = 65001;

// Turns an encoding name into a Windows code page. "UTF-32..." (capitals as
// written) gives 65005; other names are looked up ignoring ASCII case; names of
// 100 units or more are never looked up. Returns false for an unknown name.
[[nodiscard]] bool XmlCodePageFromName(std::u16string_view name, std::uint32_t& codePage);

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates).
[[nodiscard]] bool XmlIsValidUtf8(std::string_view bytes);

// The number of UTF-16 units that `bytes`, read as well-formed UTF-8, give.
std::size_t XmlUtf16LengthOfUtf8(std::string_view bytes);

// True when no byte of `bytes` is above 0x7F.
[[nodiscard]] bool XmlIsAscii(std::string_view bytes);

// Room for `bytes` read as UTF-8, in UTF-16 units: never fewer than they
// give. Text that begins in ASCII is taken to go on in it, and gets a unit
// per byte without a count; other text gets the exact count of well-formed
// UTF-8, which may fall short for ill-formed text.
std::size_t XmlUtf16RoomForUtf8(std::string_view bytes);

// Gives back the room a conversion sized by XmlUtf16RoomForUtf8 left unused,
// when it is more than an eighth of the text.
void XmlReleaseUnusedRoom(std::u16string& text);

// Appends `bytes` read as UTF-8; each ill-formed sequence becomes U+FFFD.
void XmlAppendUtf8(std::string_view bytes, std::u16string& out);

// Converts 8-bit text in `codePage` to UTF-16, replacing `out`. Returns false
// when the code page is not supported.
using XmlCodePageDecoder = bool (*)(std::uint32_t codePage, std::string_view bytes,
                                    std::u16string& out);

// Handles UTF-8, US-ASCII (20127), ISO-8859-1 (28591) and windows-1252, which
// also stands in for the ANSI code page.
[[nodiscard]] bool XmlDecodePortable(std::uint32_t codePage, std::string_view bytes, std::u16string& out);

#ifdef _WIN32
// MultiByteToWideChar with every code page the system has.
[[nodiscard]] bool XmlDecodeWindows(std::uint32_t codePage, std::string_view bytes, std::u16string& out);
#endif

// The platform's converter: Windows' own where it exists, else the portable one.
XmlCodePageDecoder XmlDefaultDecoder();

}  // namespace veltrona::xml
