// Escaping and unescaping of XML text, shared by the reader and any writer.
#pragma once

#include <string>
#include <string_view>

namespace veltrona::xml {

// Writer option: an "&" that already starts a reference ("&#..;" or "&name;")
// is written as it is instead of as "&amp;".
constexpr unsigned XML_ESCAPE_KEEP_REFERENCES = 0x01;

// Element data: "<", "&" and ">" become references.
std::u16string XmlEscapeText(std::u16string_view text, unsigned options = 0);
// Attribute values: as element data, plus both quote characters.
std::u16string XmlEscapeAttribute(std::u16string_view text, unsigned options = 0);
// A CDATA section holding `text`; an inner "]]>" is split over two sections.
std::u16string XmlEscapeCData(std::u16string_view text);

// Replaces character references and HTML 4 named references (plus "apos").
// Anything that is not a complete, known reference keeps its "&".
std::u16string XmlUnescape(std::u16string_view text);
void XmlAppendUnescaped(std::u16string_view text, std::u16string& out);

// Value of the named reference `name` (without "&" and ";"), 0 if unknown.
// An exact-case match wins; otherwise the lower-case spelling of a pair that
// differs only in case is taken (so "&ALPHA;" reads as the small alpha).
char32_t XmlLookupEntity(std::u16string_view name);

}  // namespace veltrona::xml
