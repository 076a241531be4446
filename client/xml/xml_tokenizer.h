// Splits XML text into tokens: white space, text, tags, comments, CDATA
// sections, processing instructions, DOCTYPEs and syntax errors.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/ascii.h"
#include "client/xml/xml_simd.h"

namespace veltrona::xml::internal {

enum class TokenKind {
  kWhiteSpace,
  kText,
  kStartTag,
  kEmptyElementTag,  // start tag written as "<name/>"
  kEndTag,
  kComment,
  kCData,
  kProcessingInstruction,
  kDoctype,
  kError,         // a syntax error; the token runs to the next ">"
  kUnterminated,  // the text ends inside the token
};

struct Token {
  TokenKind kind = TokenKind::kWhiteSpace;
  std::size_t start = 0;
  std::size_t end = 0;  // just after the token
  // For kError: the entry name and where the fault was seen.
  // For kUnterminated: the kind of token that was cut off.
  const char16_t* error = nullptr;
  std::size_t errorOffset = 0;
};

// Both sets below lie under U+0040, so each is one bit mask over the units
// 0..63: names and attributes are scanned a unit at a time, and a shift is
// cheaper than a chain of comparisons.
inline constexpr std::uint64_t kXmlSpaceMask =
    (1ull << u' ') | (1ull << u'\t') | (1ull << u'\r') | (1ull << u'\n');
inline constexpr std::uint64_t kNameEndMask =
    kXmlSpaceMask | (1ull << u'/') | (1ull << u'=') | (1ull << u'>') | (1ull << u'?');

inline bool IsXmlSpace(char16_t c) { return c < 64 && ((kXmlSpaceMask >> c) & 1) != 0; }

// Names end at white space, "/", "=", ">" or "?".
inline bool IsNameEnd(char16_t c) { return c < 64 && ((kNameEndMask >> c) & 1) != 0; }

// Whether n units at a and b are equal. Names and attribute names are
// compared many times per document; eight units are one step here.
inline bool EqualUnits(const char16_t* a, const char16_t* b, std::size_t n) {
#if XML_SCAN_SSE2
  if (n >= 8) {
    auto same8 = [](const char16_t* x, const char16_t* y) {
      const __m128i vx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
      const __m128i vy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
      return _mm_movemask_epi8(_mm_cmpeq_epi16(vx, vy)) == 0xFFFF;
    };
    for (std::size_t k = 0; k + 8 < n; k += 8) {
      if (!same8(a + k, b + k)) return false;
    }
    // The last eight units, overlapping the steps before when n is not a
    // multiple of eight.
    return same8(a + n - 8, b + n - 8);
  }
#endif
  for (std::size_t k = 0; k < n; ++k) {
    if (a[k] != b[k]) return false;
  }
  return true;
}

// Index of the first unit at or after `pos` that equals any of a, b, c (pass
// the same unit more than once for fewer), or `end` when there is none.
std::size_t FindAnyOf3(const char16_t* text, std::size_t pos, std::size_t end, char16_t a, char16_t b,
                       char16_t c);

// Reads the token that starts at `pos` (pos < text.size()).
Token NextToken(std::u16string_view text, std::size_t pos);

// Length of the name that starts at `pos`, at most up to `end`. Inline: it
// runs for every tag and every attribute.
inline std::size_t NameLength(std::u16string_view text, std::size_t pos, std::size_t end) {
  const char16_t* p = text.data();
  std::size_t i = pos;
#if XML_SCAN_SSE2
  // Every unit that can end a name lies below 64 and few name units do, so
  // eight units at a time are sifted for those and only they are looked at.
  const __m128i limit = _mm_set1_epi16(64);
  for (; i + 8 <= end; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    // Signed: units from U+8000 up count as low too and are looked at.
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi16(v, limit)));
    while (mask != 0) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask)) / 2;
      if (IsNameEnd(p[at])) return at - pos;
      mask &= mask - 1;  // the unit's two bits
      mask &= mask - 1;
    }
  }
#endif
  while (i < end && !IsNameEnd(p[i])) ++i;
  return i - pos;
}

// FindAnyOf3(p, pos, end, quote, '&', quote) for an attribute value, inline:
// values are short, so sixteen units are looked at in one step.
inline std::size_t FindQuoteOrReference(const char16_t* p, std::size_t pos, std::size_t end, char16_t quote) {
#if XML_SCAN_SSE2
  const __m128i q = _mm_set1_epi16(static_cast<short>(quote));
  const __m128i amp = _mm_set1_epi16(u'&');
  for (; pos + 16 <= end; pos += 16) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + pos));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + pos + 8));
    const __m128i hitLo = _mm_or_si128(_mm_cmpeq_epi16(lo, q), _mm_cmpeq_epi16(lo, amp));
    const __m128i hitHi = _mm_or_si128(_mm_cmpeq_epi16(hi, q), _mm_cmpeq_epi16(hi, amp));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(hitLo, hitHi)));
    if (mask != 0) return pos + static_cast<std::size_t>(std::countr_zero(mask));
  }
#endif
  return FindAnyOf3(p, pos, end, quote, u'&', quote);
}

// One attribute of a tag: its name and its raw value (empty when it has
// none), as offsets into the text.
struct AttributeSpan {
  std::size_t nameStart = 0;
  std::size_t nameEnd = 0;
  std::size_t valueStart = 0;
  std::size_t valueEnd = 0;
  bool hasReference = false;  // the value holds an "&" and must be unescaped
};

// Reads the attribute at or after `pos` in a tag that ends at `tagEnd`, and
// moves `pos` past it. Returns false, with `pos` at `tagEnd`, when there is
// none left. Start at the end of the tag's own name. Inline: the client
// reads a few attributes of many elements, and uses each span at once.
[[nodiscard]] inline bool NextAttribute(std::u16string_view text, std::size_t& pos, std::size_t tagEnd,
                                        AttributeSpan& attribute) {
  const char16_t* p = text.data();
  std::size_t i = pos;
  while (i < tagEnd) {
    while (i < tagEnd && IsXmlSpace(p[i])) ++i;
    if (i >= tagEnd || p[i] == u'>') break;
    const std::size_t attrName = i;
    i += NameLength(text, i, tagEnd);
    const std::size_t attrNameEnd = i;
    if (attrNameEnd == attrName && (p[i] == u'/' || p[i] == u'?')) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < tagEnd && IsXmlSpace(p[j])) ++j;
    std::size_t vStart = i;
    std::size_t vEnd = i;
    bool hasReference = false;
    if (j < tagEnd && p[j] == u'=') {
      ++j;
      while (j < tagEnd && IsXmlSpace(p[j])) ++j;
      if (j < tagEnd && (p[j] == u'"' || p[j] == u'\'')) {
        const char16_t quote = p[j];
        vStart = j + 1;
        vEnd = FindQuoteOrReference(p, vStart, tagEnd, quote);
        if (vEnd < tagEnd && p[vEnd] == u'&') {
          hasReference = true;
          vEnd = FindAnyOf3(p, vEnd, tagEnd, quote, quote, quote);
        }
        i = vEnd < tagEnd ? vEnd + 1 : tagEnd;
      } else {
        vStart = j;
        vEnd = j;
        while (vEnd < tagEnd && !IsXmlSpace(p[vEnd]) && p[vEnd] != u'>') {
          hasReference = hasReference || p[vEnd] == u'&';
          ++vEnd;
        }
        i = vEnd;
      }
    }
    // A name of no units (a stray "=" and its value) can never be asked for.
    if (attrNameEnd == attrName) continue;
    attribute = {attrName, attrNameEnd, vStart, vEnd, hasReference};
    pos = i;
    return true;
  }
  pos = tagEnd;
  return false;
}

// Compares the name in the text at `pos` with `name` over its whole length.
inline bool NameMatches(std::u16string_view text, std::size_t pos, std::size_t end, std::u16string_view name,
                        bool ignoreCase) {
  if (name.size() > end - pos) return false;
  const char16_t* p = text.data() + pos;
  const std::size_t after = pos + name.size();
  if (after != end && !IsNameEnd(text[after])) return false;
  if (!ignoreCase) {
    // Equal units first: a unit that ends a name can then only be in both.
    if (!EqualUnits(p, name.data(), name.size())) return false;
    for (const char16_t c : name) {
      if (IsNameEnd(c)) return false;
    }
    return true;
  }
  for (std::size_t k = 0; k < name.size(); ++k) {
    const char16_t c = p[k];
    if (IsNameEnd(c)) return false;
    if (c != name[k] && ToAsciiLower(c) != ToAsciiLower(name[k])) return false;
  }
  return true;
}

// Whether the attribute's name is `name` over its whole length. The span
// holds no unit that ends a name, so equal lengths and units are enough.
inline bool AttributeNameIs(std::u16string_view text, const AttributeSpan& attribute, std::u16string_view name,
                            bool ignoreCase) {
  if (attribute.nameEnd - attribute.nameStart != name.size()) return false;
  if (ignoreCase) return NameMatches(text, attribute.nameStart, attribute.nameEnd, name, true);
  return EqualUnits(text.data() + attribute.nameStart, name.data(), name.size());
}

// Finds attribute `name` in the tag text [nameStart, tagEnd) where nameStart is
// the first character of the tag's own name. Returns false when absent; else
// sets [valueStart, valueEnd) to the raw value.
[[nodiscard]] bool FindAttribute(std::u16string_view text, std::size_t nameStart, std::size_t tagEnd,
                   std::u16string_view name, bool ignoreCase, std::size_t& valueStart,
                   std::size_t& valueEnd);

}  // namespace veltrona::xml::internal

