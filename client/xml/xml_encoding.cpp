#include "client/xml/xml_encoding.h"

#include <cstddef>
#include <cstring>

#include "client/xml/xml_simd.h"
#include "client/xml/xml_tables.h"

namespace veltrona::xml {

namespace {

constexpr std::size_t kLongestLookedUpName = 99;
constexpr char16_t kReplacement = 0xFFFD;

// windows-1252 bytes 0x80..0x9F; the five unassigned bytes map to the C1
// control of the same value, as Windows does.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Length of the well-formed UTF-8 sequence at `i`, or 0 when it is not one.
// On failure `bad` is the length of the maximal ill-formed prefix (at least 1),
// so that each broken sequence turns into one replacement character.
std::size_t Utf8Sequence(const unsigned char* p, std::size_t n, std::size_t i, char32_t& cp,
                         std::size_t& bad) {
  const unsigned char b0 = p[i];
  bad = 1;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t len;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    if (i + k >= n) return 0;
    const unsigned char b = p[i + k];
    if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
    bad = k + 1;
  }
  return len;
}

int CompareLowered(const char* table, std::u16string_view name) {
  std::size_t i = 0;
  for (; table[i] != '\0' && i < name.size(); ++i) {
    char16_t b = name[i];
    if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b + 32);
    const char16_t a = static_cast<unsigned char>(table[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (table[i] == '\0') return i == name.size() ? 0 : -1;
  return 1;
}

}  // namespace

bool XmlCodePageFromName(std::u16string_view name, std::uint32_t& codePage) {
  if (name.substr(0, 6) == u"UTF-32") {
    codePage = 65005;
    return true;
  }
  if (name.empty() || name.size() > kLongestLookedUpName) return false;
  using internal::kEncodingNameCount;
  using internal::kEncodingNames;
  std::size_t lo = 0;
  std::size_t hi = kEncodingNameCount;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    const int c = CompareLowered(kEncodingNames[mid].name, name);
    if (c == 0) {
      codePage = kEncodingNames[mid].codePage;
      return true;
    }
    if (c < 0) lo = mid + 1; else hi = mid;
  }
  return false;
}

bool XmlIsValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    char32_t cp;
    std::size_t bad;
    const std::size_t len = Utf8Sequence(p, n, i, cp, bad);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

void XmlAppendUtf8(std::string_view bytes, std::u16string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  // Never more units than bytes: a four-byte sequence gives a surrogate pair.
  const std::size_t base = out.size();
  out.resize(base + n);
  char16_t* const first = out.data() + base;
  char16_t* w = first;
  std::size_t i = 0;
  while (i < n) {
    // Plain ASCII, many bytes at a time.
#if XML_SCAN_SSE2
    while (i + 16 <= n) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      if (_mm_movemask_epi8(v) != 0) break;
      const __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 8), _mm_unpackhi_epi8(v, zero));
      w += 16;
      i += 16;
    }
#endif
    while (i + 8 <= n) {
      std::uint64_t v;
      std::memcpy(&v, p + i, sizeof v);
      if (v & 0x8080808080808080ull) break;
      for (int k = 0; k < 8; ++k) w[k] = p[i + k];
      w += 8;
      i += 8;
    }
    while (i < n && p[i] < 0x80) *w++ = p[i++];
    if (i >= n) break;
    char32_t cp;
    std::size_t bad;
    const std::size_t len = Utf8Sequence(p, n, i, cp, bad);
    if (len == 0) {
      *w++ = kReplacement;
      i += bad;
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      *w++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *w++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      i += len;
    } else {
      *w++ = static_cast<char16_t>(cp);
      i += len;
    }
  }
  out.resize(base + static_cast<std::size_t>(w - first));
}

bool XmlDecodePortable(std::uint32_t codePage, std::string_view bytes, std::u16string& out) {
  out.clear();
  switch (codePage) {
    case XML_CP_UTF8:
      XmlAppendUtf8(bytes, out);
      return true;
    case 20127:
      out.reserve(bytes.size());
      for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        out.push_back(u < 0x80 ? u : kReplacement);
      }
      return true;
    case 28591:
      out.reserve(bytes.size());
      for (const char b : bytes) out.push_back(static_cast<unsigned char>(b));
      return true;
    case XML_CP_ANSI:
    case 1252:
      out.reserve(bytes.size());
      for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        out.push_back((u >= 0x80 && u < 0xA0) ? kWindows1252High[u - 0x80] : u);
      }
      return true;
    default:
      return false;
  }
}

XmlCodePageDecoder XmlDefaultDecoder() {
#ifdef _WIN32
  return &XmlDecodeWindows;
#else
  return &XmlDecodePortable;
#endif
}

}  // namespace veltrona::xml
