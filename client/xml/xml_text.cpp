#include "client/xml/xml_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "base/ascii.h"
#include "client/xml/xml_tables.h"
#include "client/xml/xml_tokenizer.h"

namespace veltrona::xml {

namespace {

bool IsAsciiAlnum(char16_t c) { return IsAsciiLetter(c) || IsAsciiDigit(c); }

// Compares the table name with `name` ignoring ASCII case; <0, 0, >0.
int CompareFolded(const char* table, std::u16string_view name) {
  std::size_t i = 0;
  for (; table[i] != '\0' && i < name.size(); ++i) {
    const char16_t a = ToAsciiLower(static_cast<char16_t>(static_cast<unsigned char>(table[i])));
    const char16_t b = ToAsciiLower(name[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (table[i] == '\0') return i == name.size() ? 0 : -1;
  return 1;
}

bool EqualsExact(const char* table, std::u16string_view name) {
  std::size_t i = 0;
  for (; table[i] != '\0'; ++i) {
    if (i >= name.size() || static_cast<unsigned char>(table[i]) != name[i]) return false;
  }
  return i == name.size();
}

bool IsAllLower(const char* s) {
  for (; *s; ++s) {
    if (*s >= 'A' && *s <= 'Z') return false;
  }
  return true;
}

void AppendCodePoint(char32_t cp, std::u16string& out) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads the reference starting at text[amp] == '&'. On success returns its
// value and sets `end` just after the ";"; returns 0 when it is not one.
char32_t ReadReference(std::u16string_view text, std::size_t amp, std::size_t& end) {
  std::size_t i = amp + 1;
  const std::size_t n = text.size();
  if (i < n && text[i] == u'#') {
    ++i;
    const bool hex = i < n && text[i] == u'x';
    if (hex) ++i;
    const std::size_t digitsStart = i;
    std::uint32_t value = 0;
    bool tooBig = false;
    for (; i < n; ++i) {
      const int d = hex ? HexValue(text[i]) : ((text[i] >= u'0' && text[i] <= u'9') ? text[i] - u'0' : -1);
      if (d < 0) break;
      // Stop accumulating past the Unicode range; the digits are still consumed.
      if (!tooBig) {
        value = value * (hex ? 16u : 10u) + static_cast<std::uint32_t>(d);
        if (value > 0x10FFFF) tooBig = true;
      }
    }
    // A surrogate code unit on its own would make the text invalid UTF-16.
    if (i == digitsStart || i >= n || text[i] != u';' || tooBig || value == 0) return 0;
    if (value >= 0xD800 && value <= 0xDFFF) return 0;
    end = i + 1;
    return value;
  }
  const std::size_t nameStart = i;
  while (i < n && i - nameStart <= 8 && IsAsciiAlnum(text[i])) ++i;
  const std::size_t len = i - nameStart;
  if (len == 0 || len > 8 || i >= n || text[i] != u';') return 0;
  const char32_t value = XmlLookupEntity(text.substr(nameStart, len));
  if (value == 0) return 0;
  end = i + 1;
  return value;
}

bool StartsReference(std::u16string_view text, std::size_t amp) {
  std::size_t i = amp + 1;
  if (i >= text.size()) return false;
  const char16_t first = text[i];
  if (first != u'#' && !(IsAsciiAlnum(first) || first == u'_' || first == u':' || first >= 0x80)) return false;
  for (++i; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u';') return true;
    if (!(IsAsciiAlnum(c) || c == u'_' || c == u':' || c == u'-' || c == u'.' || c >= 0x80)) return false;
  }
  return false;
}

std::u16string Escape(std::u16string_view text, unsigned options, bool attribute) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    switch (c) {
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'&':
        if ((options & XML_ESCAPE_KEEP_REFERENCES) && StartsReference(text, i)) {
          out.push_back(c);
        } else {
          out += u"&amp;";
        }
        break;
      case u'"':
        if (attribute) out += u"&quot;"; else out.push_back(c);
        break;
      case u'\'':
        if (attribute) out += u"&apos;"; else out.push_back(c);
        break;
      default: out.push_back(c);
    }
  }
  return out;
}

}  // namespace

char32_t XmlLookupEntity(std::u16string_view name) {
  // XML's own five, spelled as they nearly always are, need no search: an
  // exact-case match wins anyway.
  if (name == u"amp") return u'&';
  if (name == u"lt") return u'<';
  if (name == u"gt") return u'>';
  if (name == u"quot") return u'"';
  if (name == u"apos") return u'\'';
  using internal::kEntityNameCount;
  using internal::kEntityNames;
  const std::size_t lo = static_cast<std::size_t>(
      std::lower_bound(kEntityNames, kEntityNames + kEntityNameCount, name,
                       [](const internal::EntityName& entry, std::u16string_view n) {
                         return CompareFolded(entry.name, n) < 0;
                       }) -
      kEntityNames);
  // [lo, end) now starts with every spelling equal to `name` ignoring case.
  std::size_t fallback = kEntityNameCount;
  for (std::size_t i = lo; i < kEntityNameCount && CompareFolded(kEntityNames[i].name, name) == 0; ++i) {
    if (EqualsExact(kEntityNames[i].name, name)) return kEntityNames[i].value;
    if (fallback == kEntityNameCount || IsAllLower(kEntityNames[i].name)) fallback = i;
  }
  return fallback == kEntityNameCount ? 0 : kEntityNames[fallback].value;
}

void XmlAppendUnescaped(std::u16string_view text, std::u16string& out) {
  const char16_t* p = text.data();
  const std::size_t n = text.size();
  std::size_t runStart = 0;
  std::size_t i = internal::FindAnyOf3(p, 0, n, u'&', u'&', u'&');
  while (i < n) {
    std::size_t end = 0;
    const char32_t value = ReadReference(text, i, end);
    if (value != 0) {
      out.append(p + runStart, i - runStart);
      AppendCodePoint(value, out);
      runStart = end;
      i = internal::FindAnyOf3(p, end, n, u'&', u'&', u'&');
    } else {
      i = internal::FindAnyOf3(p, i + 1, n, u'&', u'&', u'&');
    }
  }
  out.append(p + runStart, n - runStart);
}

std::u16string XmlUnescape(std::u16string_view text) {
  // Most values hold no reference at all: one scan, one copy.
  const std::size_t amp = internal::FindAnyOf3(text.data(), 0, text.size(), u'&', u'&', u'&');
  if (amp == text.size()) return std::u16string(text);
  std::u16string out;
  out.reserve(text.size());
  out.append(text.data(), amp);
  XmlAppendUnescaped(text.substr(amp), out);
  return out;
}

std::u16string XmlEscapeText(std::u16string_view text, unsigned options) {
  return Escape(text, options, false);
}

std::u16string XmlEscapeAttribute(std::u16string_view text, unsigned options) {
  return Escape(text, options, true);
}

std::u16string XmlEscapeCData(std::u16string_view text) {
  std::u16string out = u"<![CDATA[";
  std::size_t start = 0;
  std::size_t hit = text.find(u"]]>");
  while (hit != std::u16string_view::npos) {
    out.append(text.substr(start, hit - start));
    out += u"]]]]><![CDATA[>";
    start = hit + 3;
    hit = text.find(u"]]>", start);
  }
  out.append(text.substr(start));
  out += u"]]>";
  return out;
}

}  // namespace veltrona::xml
