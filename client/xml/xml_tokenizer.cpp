#include "client/xml/xml_tokenizer.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "client/xml/xml_simd.h"

namespace veltrona::xml::internal {

namespace {

#if !XML_SCAN_SSE2
constexpr std::uint64_t kLaneOnes = 0x0001000100010001ull;
constexpr std::uint64_t kLaneHighs = 0x8000800080008000ull;

// Non-zero when one of the four 16-bit lanes of `v` is zero.
inline std::uint64_t HasZeroLane(std::uint64_t v) { return (v - kLaneOnes) & ~v & kLaneHighs; }
#endif

constexpr std::size_t kNpos = std::u16string_view::npos;

bool StartsStartTag(char16_t c) {
  // Letters, ":", "_" and everything above "`", which takes in all non-ASCII.
  return (c >= u'A' && c <= u'Z') || c == u':' || c == u'_' || c > u'`';
}

Token Make(TokenKind kind, std::size_t start, std::size_t end) {
  Token t;
  t.kind = kind;
  t.start = start;
  t.end = end;
  return t;
}

Token Unterminated(std::size_t start, std::size_t textEnd, const char16_t* type) {
  Token t = Make(TokenKind::kUnterminated, start, textEnd);
  t.error = type;
  t.errorOffset = start;
  return t;
}

// A syntax error found at `at`; the bad token swallows up to the next ">".
Token Error(std::u16string_view text, std::size_t start, std::size_t at, const char16_t* name) {
  const std::size_t close = text.find(u'>', at);
  Token t = Make(TokenKind::kError, start, close == kNpos ? text.size() : close + 1);
  t.error = name;
  t.errorOffset = at;
  return t;
}

// Index of the first ">" at or after `from` that is outside quotes, or npos.
std::size_t FindTagClose(std::u16string_view text, std::size_t from) {
  const std::size_t n = text.size();
  const char16_t* p = text.data();
  char16_t quote = 0;
  std::size_t i = from;
#if XML_SCAN_SSE2
  // Attribute values are short, so one pass marks every ">" and quote in
  // sixteen units, one bit per unit, and the marks are walked in order.
  const __m128i gt = _mm_set1_epi16(u'>');
  const __m128i dq = _mm_set1_epi16(u'"');
  const __m128i sq = _mm_set1_epi16(u'\'');
  auto marks = [&](__m128i v) {
    return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, gt), _mm_cmpeq_epi16(v, dq)), _mm_cmpeq_epi16(v, sq));
  };
  for (; i + 16 <= n; i += 16) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 8));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(marks(lo), marks(hi))));
    while (mask != 0) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask));
      mask &= mask - 1;
      const char16_t c = p[at];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == u'>') {
        return at;
      } else {
        quote = c;
      }
    }
  }
#endif
  for (; i < n; ++i) {
    const char16_t c = p[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == u'>') {
      return i;
    } else if (c == u'"' || c == u'\'') {
      quote = c;
    }
  }
  return kNpos;
}

Token ReadDoctype(std::u16string_view text, std::size_t pos) {
  const std::size_t n = text.size();
  bool inSubset = false;
  std::size_t i = pos + 3;
  while (i < n) {
    const char16_t c = text[i];
    if (!inSubset) {
      if (c == u'>') return Make(TokenKind::kDoctype, pos, i + 1);
      if (c == u'[') inSubset = true;
      ++i;
      continue;
    }
    if (c == u']') {
      inSubset = false;
      ++i;
    } else if (c == u'<' && i + 1 < n && text[i + 1] == u'!') {
      if (i + 2 >= n) break;
      const char16_t d = text[i + 2];
      if (d == u'-') {
        const std::size_t close = text.find(u"-->", i + 4 < n ? i + 4 : n);
        if (close == kNpos) break;
        i = close + 3;
      } else if (d == u'A' || d == u'E' || d == u'N') {
        const std::size_t close = FindTagClose(text, i + 3);
        if (close == kNpos) break;
        i = close + 1;
      } else {
        return Error(text, pos, i + 2, u"doctype_tag_syntax");
      }
    } else if (c == u'<' && i + 1 < n && text[i + 1] == u'?') {
      const std::size_t close = text.find(u"?>", i + 2);
      if (close == kNpos) break;
      i = close + 2;
    } else {
      ++i;
    }
  }
  return Unterminated(pos, n, u"document_type");
}

}  // namespace

std::size_t FindAnyOf3(const char16_t* text, std::size_t pos, std::size_t end, char16_t a, char16_t b,
                       char16_t c) {
  // The scans for "<", ">" and quotes are most of the parse, so they look at
  // several units per step.
#if XML_SCAN_SSE2
  const __m128i va = _mm_set1_epi16(static_cast<short>(a));
  const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
  const __m128i vc = _mm_set1_epi16(static_cast<short>(c));
  if (a == b && b == c) {
    // One unit looked for, through long text: sixteen units a step.
    while (pos + 16 <= end) {
      const __m128i lo = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos)), va);
      const __m128i hi = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos + 8)), va);
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lo, hi)));
      if (mask != 0) return pos + static_cast<std::size_t>(std::countr_zero(mask));
      pos += 16;
    }
  }
  while (pos + 8 <= end) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, va), _mm_cmpeq_epi16(v, vb)),
                                     _mm_cmpeq_epi16(v, vc));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return pos + static_cast<std::size_t>(std::countr_zero(mask)) / 2;
    pos += 8;
  }
#else
  const std::uint64_t ma = kLaneOnes * a;
  const std::uint64_t mb = kLaneOnes * b;
  const std::uint64_t mc = kLaneOnes * c;
  while (pos + 4 <= end) {
    std::uint64_t v;
    std::memcpy(&v, text + pos, sizeof v);
    if (HasZeroLane(v ^ ma) | HasZeroLane(v ^ mb) | HasZeroLane(v ^ mc)) break;
    pos += 4;
  }
#endif
  for (; pos < end; ++pos) {
    const char16_t u = text[pos];
    if (u == a || u == b || u == c) return pos;
  }
  return end;
}

Token NextToken(std::u16string_view text, std::size_t pos) {
  const std::size_t n = text.size();
  const char16_t* p = text.data();
  if (p[pos] != u'<') {
    std::size_t i = pos;
    while (i < n && IsXmlSpace(p[i])) ++i;
    if (i == n || p[i] == u'<') return Make(TokenKind::kWhiteSpace, pos, i);
    return Make(TokenKind::kText, pos, FindAnyOf3(p, i, n, u'<', u'<', u'<'));
  }
  if (pos + 1 >= n) return Unterminated(pos, n, u"tag");
  const char16_t c1 = p[pos + 1];
  if (StartsStartTag(c1)) {
    const std::size_t close = FindTagClose(text, pos + 2);
    if (close == kNpos) return Unterminated(pos, n, u"start_tag");
    const TokenKind kind = p[close - 1] == u'/' ? TokenKind::kEmptyElementTag : TokenKind::kStartTag;
    return Make(kind, pos, close + 1);
  }
  switch (c1) {
    case u'/': {
      const std::size_t close = FindAnyOf3(p, pos + 2, n, u'>', u'>', u'>');
      if (close == n) return Unterminated(pos, n, u"end_tag");
      return Make(TokenKind::kEndTag, pos, close + 1);
    }
    case u'?': {
      const std::size_t close = text.find(u"?>", pos + 2);
      if (close == kNpos) return Unterminated(pos, n, u"processing_instruction");
      return Make(TokenKind::kProcessingInstruction, pos, close + 2);
    }
    case u'!': {
      if (pos + 2 >= n) return Unterminated(pos, n, u"tag");
      const char16_t c2 = p[pos + 2];
      if (c2 == u'-') {
        if (pos + 3 >= n) return Unterminated(pos, n, u"tag");
        if (p[pos + 3] != u'-') return Error(text, pos, pos + 3, u"comment_tag_syntax");
        const std::size_t close = text.find(u"-->", pos + 4);
        if (close == kNpos) return Unterminated(pos, n, u"comment");
        return Make(TokenKind::kComment, pos, close + 3);
      }
      if (c2 == u'[') {
        if (pos + 3 >= n) return Unterminated(pos, n, u"tag");
        if (p[pos + 3] != u'C') return Error(text, pos, pos + 3, u"cdata_section_syntax");
        const std::size_t close = text.find(u"]]>", pos + 4);
        if (close == kNpos) return Unterminated(pos, n, u"cdata_section");
        return Make(TokenKind::kCData, pos, close + 3);
      }
      if (c2 == u'D') return ReadDoctype(text, pos);
      return Error(text, pos, pos + 2, u"exclamation_tag_syntax");
    }
    default:
      return Error(text, pos, pos + 1, u"first_tag_syntax");
  }
}

bool FindAttribute(std::u16string_view text, std::size_t nameStart, std::size_t tagEnd,
                   std::u16string_view name, bool ignoreCase, std::size_t& valueStart,
                   std::size_t& valueEnd) {
  std::size_t pos = nameStart + NameLength(text, nameStart, tagEnd);
  AttributeSpan attribute;
  while (NextAttribute(text, pos, tagEnd, attribute)) {
    if (AttributeNameIs(text, attribute, name, ignoreCase)) {
      valueStart = attribute.valueStart;
      valueEnd = attribute.valueEnd;
      return true;
    }
  }
  return false;
}

}  // namespace veltrona::xml::internal
