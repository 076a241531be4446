#include "client/xml/xml_encoding.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "base/ascii.h"
#include "client/xml/xml_simd.h"
#include "client/xml/xml_tables.h"

namespace veltrona::xml {

namespace {

constexpr std::size_t kLongestLookedUpName = 99;
constexpr char16_t kReplacement = 0xFFFD;
// Units decoded on the stack before they are appended to the output.
constexpr std::size_t kChunkUnits = 4096;

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

// Compares a table name (lower case) with `name` lowered; <0, 0, >0.
int CompareLowered(const char* table, std::u16string_view name) {
  std::size_t i = 0;
  for (; table[i] != '\0' && i < name.size(); ++i) {
    const char16_t b = ToAsciiLower(name[i]);
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
  const internal::EncodingName* const end = internal::kEncodingNames + internal::kEncodingNameCount;
  const internal::EncodingName* const found =
      std::lower_bound(internal::kEncodingNames, end, name, [](const internal::EncodingName& entry, std::u16string_view n) {
        return CompareLowered(entry.name, n) < 0;
      });
  if (found == end || CompareLowered(found->name, name) != 0) return false;
  codePage = found->codePage;
  return true;
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

namespace {

// Number of UTF-16 units that well-formed UTF-8 `bytes` turn into: one per
// byte that is not a continuation byte, two for each four-byte lead.
std::size_t Utf16Length(const unsigned char* p, std::size_t n) {
  std::size_t continuations = 0;
  std::size_t fourByteLeads = 0;
  std::size_t i = 0;
#if XML_SCAN_SSE2
  // As signed bytes, continuation bytes are -128..-65 and four-byte leads
  // (and the bytes no lead may be) -16..-1. Each lane counts its hits for up
  // to 255 blocks before the lanes are summed.
  const __m128i belowLead = _mm_set1_epi8(-64);
  const __m128i aboveThreeByteLead = _mm_set1_epi8(-17);
  const __m128i zero = _mm_setzero_si128();
  auto sum = [&](__m128i lanes) {
    const __m128i halves = _mm_sad_epu8(lanes, zero);
    return static_cast<std::size_t>(_mm_cvtsi128_si32(halves)) +
           static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(halves, 8)));
  };
  while (i + 16 <= n) {
    const std::size_t blocks = std::min<std::size_t>((n - i) / 16, 255);
    __m128i cont = zero;
    __m128i four = zero;
    for (std::size_t b = 0; b < blocks; ++b, i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      cont = _mm_sub_epi8(cont, _mm_cmplt_epi8(v, belowLead));
      four = _mm_sub_epi8(four, _mm_and_si128(_mm_cmpgt_epi8(v, aboveThreeByteLead), _mm_cmplt_epi8(v, zero)));
    }
    continuations += sum(cont);
    fourByteLeads += sum(four);
  }
#endif
  for (; i < n; ++i) {
    continuations += (p[i] & 0xC0) == 0x80;
    fourByteLeads += p[i] >= 0xF0;
  }
  return n - continuations + fourByteLeads;
}

// How much of a text is looked at to decide whether it is ASCII.
constexpr std::size_t kAsciiSample = 4096;

}  // namespace

std::size_t XmlUtf16LengthOfUtf8(std::string_view bytes) {
  return Utf16Length(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

namespace {

// Decodes UTF-8 from p[i] on into w, while at least 16 units of room are
// left before `limit` (each step writes at most 16); returns the new w.
char16_t* DecodeUtf8Steps(const unsigned char* p, std::size_t n, std::size_t& i, char16_t* w,
                          const char16_t* limit) {
  while (i < n && w + 16 <= limit) {
    if (p[i] < 0x80) {
      // A lone ASCII unit between non-ASCII ones (the space between two
      // words of Cyrillic) is not worth a wide step.
      if (i + 1 < n && p[i + 1] >= 0x80) {
        *w++ = p[i++];
        continue;
      }
      // ASCII: 16 bytes widened at a time, keeping the units up to the
      // first non-ASCII byte.
#if XML_SCAN_SSE2
      const __m128i zero = _mm_setzero_si128();
      while (i + 16 <= n && w + 16 <= limit) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 8), _mm_unpackhi_epi8(v, zero));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(v));
        if (mask != 0) {
          const auto ascii = static_cast<std::size_t>(std::countr_zero(mask));
          w += ascii;
          i += ascii;
          break;
        }
        w += 16;
        i += 16;
      }
#endif
      const std::size_t stop = std::min(n, i + static_cast<std::size_t>(limit - w));
      while (i < stop && p[i] < 0x80) *w++ = p[i++];
      continue;
    }
    const unsigned char b0 = p[i];
    // Two- and three-byte sequences, the usual non-ASCII text, decoded
    // inline; everything else goes through the full check.
    if (b0 >= 0xC2 && b0 <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
      *w++ = static_cast<char16_t>((b0 & 0x1F) << 6 | (p[i + 1] & 0x3F));
      i += 2;
      continue;
    }
    if ((b0 & 0xF0) == 0xE0 && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80 &&
        !(b0 == 0xE0 && p[i + 1] < 0xA0) && !(b0 == 0xED && p[i + 1] > 0x9F)) {
      *w++ = static_cast<char16_t>((b0 & 0x0F) << 12 | (p[i + 1] & 0x3F) << 6 | (p[i + 2] & 0x3F));
      i += 3;
      continue;
    }
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
  return w;
}

}  // namespace

bool XmlIsAscii(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
#if XML_SCAN_SSE2
  for (; i + 16 <= n; i += 16) {
    if (_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))) != 0) return false;
  }
#endif
  for (; i < n; ++i) {
    if (p[i] >= 0x80) return false;
  }
  return true;
}

std::size_t XmlUtf16RoomForUtf8(std::string_view bytes) {
  // A UTF-8 byte never gives more than one unit. Counting costs a pass over
  // the whole text, a third of the conversion, where the text is ASCII.
  if (XmlIsAscii(bytes.substr(0, kAsciiSample))) return bytes.size();
  return XmlUtf16LengthOfUtf8(bytes);
}

void XmlReleaseUnusedRoom(std::u16string& text) {
  if (text.capacity() - text.size() > text.size() / 8) text.shrink_to_fit();
}

void XmlAppendUtf8(std::string_view bytes, std::u16string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  if (n > kChunkUnits - 16) {
    // Long text is decoded straight into the output. Ill-formed text may give
    // more units than there is room for; the rest goes on below.
    const std::size_t base = out.size();
    out.resize(base + XmlUtf16RoomForUtf8(bytes));
    char16_t* const data = out.data();
    out.resize(static_cast<std::size_t>(DecodeUtf8Steps(p, n, i, data + base, data + out.size()) - data));
    XmlReleaseUnusedRoom(out);
  }
  // Short text, which gains nothing from sizing the output first, and the
  // last units of long text go through a small buffer.
  char16_t buffer[kChunkUnits];
  while (i < n) {
    const char16_t* const w = DecodeUtf8Steps(p, n, i, buffer, buffer + kChunkUnits);
    out.append(buffer, static_cast<std::size_t>(w - buffer));
  }
}

namespace {

// The units for bytes 0x80..0xFF of a single-byte code page.
struct HighHalf {
  char16_t units[128];
};

constexpr HighHalf MakeHighHalf(std::uint32_t codePage) {
  HighHalf h{};
  for (int b = 0x80; b <= 0xFF; ++b) {
    char16_t u = static_cast<char16_t>(b);
    if (codePage == 20127) u = kReplacement;
    if (codePage == 1252 && b < 0xA0) u = kWindows1252High[b - 0x80];
    h.units[b - 0x80] = u;
  }
  return h;
}

constexpr HighHalf kUsAscii = MakeHighHalf(20127);
constexpr HighHalf kLatin1 = MakeHighHalf(28591);
constexpr HighHalf kWindows1252 = MakeHighHalf(1252);

// One unit per byte: ASCII widened 16 bytes at a time, the rest looked up.
void DecodeSingleByteInto(const unsigned char* p, std::size_t n, const HighHalf& high, char16_t* w) {
  std::size_t k = 0;
#if XML_SCAN_SSE2
  const __m128i zero = _mm_setzero_si128();
  for (; k + 16 <= n; k += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w + k), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w + k + 8), _mm_unpackhi_epi8(v, zero));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(v));
    while (mask != 0) {
      const auto at = k + static_cast<std::size_t>(std::countr_zero(mask));
      mask &= mask - 1;
      w[at] = high.units[p[at] - 0x80];
    }
  }
#endif
  for (; k < n; ++k) w[k] = p[k] < 0x80 ? p[k] : high.units[p[k] - 0x80];
}

void DecodeSingleByte(std::string_view bytes, const HighHalf& high, std::u16string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  out.resize(n);
  DecodeSingleByteInto(p, n, high, out.data());
}

}  // namespace

bool XmlDecodePortable(std::uint32_t codePage, std::string_view bytes, std::u16string& out) {
  out.clear();
  switch (codePage) {
    case XML_CP_UTF8:
      XmlAppendUtf8(bytes, out);
      return true;
    case 20127:
      DecodeSingleByte(bytes, kUsAscii, out);
      return true;
    case 28591:
      DecodeSingleByte(bytes, kLatin1, out);
      return true;
    case XML_CP_ANSI:
    case 1252:
      DecodeSingleByte(bytes, kWindows1252, out);
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
