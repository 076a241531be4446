#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "client/xml/xml_document.h"
#include "client/xml/xml_encoding.h"
#include "tests/test_text.h"

namespace veltrona::xml {
namespace {

std::string Utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes;
  for (const char16_t c : text) {
    const char hi = static_cast<char>(c >> 8);
    const char lo = static_cast<char>(c & 0xFF);
    bytes += bigEndian ? hi : lo;
    bytes += bigEndian ? lo : hi;
  }
  return bytes;
}

// --- Byte-order marks ---------------------------------------------------------

TEST(XmlLoadBytes, Utf8ByteOrderMark) {
  XmlDocument doc;
  EXPECT_TRUE(doc.LoadBytes("\xEF\xBB\xBF<a>\xC3\xA9</a>"));
  EXPECT_EQ(doc.GetText(), u"<a>\x00E9</a>");
  EXPECT_EQ(doc.GetFlags() & XML_ENCODING_FLAGS, XML_UTF8_BOM_FILE);
  EXPECT_EQ(doc.GetResult(),
            u"<bom/><converted_to encoding=\"UTF-16\" length=\"8\"/><read encoding=\"UTF-8\" length=\"9\"/>");
}

TEST(XmlLoadBytes, Utf16LittleEndianWinsOverDeclaration) {
  XmlDocument doc;
  const std::u16string text = u"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x20AC</a>";
  EXPECT_TRUE(doc.LoadBytes("\xFF\xFE" + Utf16(text, false)));
  EXPECT_EQ(doc.GetText(), text);
  EXPECT_EQ(doc.GetFlags() & XML_ENCODING_FLAGS, XML_UTF16LE_FILE);
  EXPECT_EQ(doc.GetResult(), u"<bom/><read encoding=\"UTF-16LE\" length=\"53\"/>");
}

TEST(XmlLoadBytes, Utf16BigEndianIsSwappedAndNullsDropped) {
  XmlDocument doc;
  EXPECT_TRUE(doc.LoadBytes("\xFE\xFF" + Utf16(std::u16string(u"<a>x\0y</a>", 10), true) + "\x01"));
  EXPECT_EQ(doc.GetText(), u"<a>xy</a>");
  EXPECT_EQ(doc.GetFlags() & XML_ENCODING_FLAGS, XML_UTF16BE_FILE);
  EXPECT_EQ(doc.GetResult(),
            u"<bom/><nulls_removed count=\"1\"/><endian_swap/><read encoding=\"UTF-16BE\" length=\"10\"/>");
}

TEST(XmlLoadBytes, EncodingFlagsAreReplacedOnEachLoad) {
  XmlDocument doc;
  doc.SetFlags(XML_IGNORE_CASE);
  EXPECT_TRUE(doc.LoadBytes("\xFF\xFE" + Utf16(u"<a/>", false)));
  EXPECT_TRUE(doc.LoadBytes("<a/>"));
  EXPECT_EQ(doc.GetFlags(), XML_IGNORE_CASE);
}

// --- Declared and detected encodings -----------------------------------------

TEST(XmlLoadBytes, XmlDeclarationNamesTheEncoding) {
  XmlDocument doc;
  EXPECT_TRUE(doc.LoadBytes("<?xml version='1.0' ENCODING = 'ISO-8859-1' ?><a>\xE9</a>"));
  EXPECT_EQ(doc.GetText().substr(46), u"<a>\x00E9</a>");
  EXPECT_EQ(doc.GetResult(),
            u"<converted_to encoding=\"UTF-16\" length=\"54\"/><read encoding=\"ISO-8859-1\" length=\"54\"/>");

  EXPECT_TRUE(doc.LoadBytes("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80</a>"));
  EXPECT_NE(doc.GetText().find(u"<a>\x20AC</a>"), std::u16string::npos);
}

TEST(XmlLoadBytes, HtmlMetaCharsetBeforeEndOfHead) {
  XmlDocument doc;
  EXPECT_TRUE(doc.LoadBytes(
      "<!DOCTYPE html><HTML><head><title>t</title>"
      "<META HTTP-EQUIV=\"content-type\" CONTENT=\"text/html; Charset = windows-1252\"/>"
      "</head><body>\x80</body></HTML>"));
  EXPECT_NE(doc.GetText().find(u"<body>\x20AC</body>"), std::u16string::npos);
  EXPECT_NE(doc.GetResult().find(u"<read encoding=\"windows-1252\""), std::u16string::npos);

  // After </head> the tag is not looked at; the leading "<" means UTF-8.
  EXPECT_TRUE(doc.LoadBytes(
      "<html><head></head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\"/>"
      "<body>\x80</body></html>"));
  EXPECT_NE(doc.GetText().find(u"<body>\xFFFD</body>"), std::u16string::npos);
  EXPECT_NE(doc.GetResult().find(u"<read encoding=\"UTF-8\""), std::u16string::npos);
}

TEST(XmlLoadBytes, LeadingLessThanMeansUtf8WithoutDetection) {
  XmlDocument doc;
  EXPECT_TRUE(doc.LoadBytes("<a>\xE2\x82\xAC</a>"));
  EXPECT_EQ(doc.GetText(), u"<a>\x20AC</a>");
  EXPECT_EQ(doc.GetResult(),
            u"<converted_to encoding=\"UTF-16\" length=\"8\"/><read encoding=\"UTF-8\" length=\"10\"/>");
}

TEST(XmlLoadBytes, OtherTextIsTestedForUtf8) {
  XmlDocument doc;
  EXPECT_TRUE(doc.LoadBytes(" <a>\xE2\x82\xAC</a>"));
  EXPECT_EQ(doc.GetText(), u" <a>\x20AC</a>");
  EXPECT_EQ(doc.GetResult(),
            u"<utf8_detection/><converted_to encoding=\"UTF-16\" length=\"9\"/>"
            u"<read encoding=\"UTF-8\" length=\"11\"/>");

  // Not UTF-8: the ANSI code page (windows-1252 in the portable converter).
  doc.SetDecoder(&XmlDecodePortable);
  EXPECT_TRUE(doc.LoadBytes(" <a>\xE9</a>"));
  EXPECT_EQ(doc.GetText(), u" <a>\x00E9</a>");
  EXPECT_EQ(doc.GetResult(),
            u"<utf8_detection/><converted_to encoding=\"UTF-16\" length=\"9\"/>"
            u"<read encoding=\"ANSI\" length=\"9\"/>");
}

TEST(XmlLoadBytes, NullBytesAreDropped) {
  XmlDocument doc;
  EXPECT_TRUE(doc.LoadBytes(std::string("<a>x\0\0y</a>", 11)));
  EXPECT_EQ(doc.GetText(), u"<a>xy</a>");
  EXPECT_EQ(doc.GetResult(),
            u"<nulls_removed count=\"2\"/><converted_to encoding=\"UTF-16\" length=\"9\"/>"
            u"<read encoding=\"UTF-8\" length=\"11\"/>");
}

TEST(XmlLoadBytes, UnknownEncodingIsReadAsAnsi) {
  XmlDocument doc;
  doc.SetDecoder(&XmlDecodePortable);
  EXPECT_TRUE(doc.LoadBytes("<?xml version=\"1.0\" encoding=\"x-klingon\"?><a>\xE9</a>"));
  EXPECT_NE(doc.GetText().find(u"<a>\x00E9</a>"), std::u16string::npos);
  EXPECT_EQ(doc.GetResult().substr(0, 42), u"<unknown_encoding encoding=\"x-klingon\"/><c");
}

TEST(XmlLoadBytes, KnownEncodingTheConverterLacksIsReadAsAnsi) {
  XmlDocument doc;
  doc.SetDecoder(&XmlDecodePortable);
  EXPECT_TRUE(doc.LoadBytes("<?xml version=\"1.0\" encoding=\"shift_jis\"?><a>\xE9</a>"));
  EXPECT_NE(doc.GetText().find(u"<a>\x00E9</a>"), std::u16string::npos);
  EXPECT_EQ(doc.GetResult().substr(0, 44), u"<unsupported_encoding encoding=\"shift_jis\"/>");
}

TEST(XmlLoadBytes, EmptyInput) {
  XmlDocument doc;
  EXPECT_FALSE(doc.LoadBytes(""));
  EXPECT_EQ(doc.GetText(), u"");
  EXPECT_EQ(doc.GetResult(),
            u"<utf8_detection/><converted_to encoding=\"UTF-16\" length=\"0\"/>"
            u"<read encoding=\"UTF-8\" length=\"0\"/>");
}

// --- Encoding names and conversion ------------------------------------------

TEST(XmlEncodingNames, WindowsNamesAndAliases) {
  struct Case {
    const char16_t* name;
    std::uint32_t codePage;
  };
  const Case cases[] = {
      {u"utf-8", 65001},        {u"UTF8", 65001},         {u"us-ascii", 20127},
      {u"ASCII", 20127},        {u"iso-8859-1", 28591},   {u"Latin1", 28591},
      {u"windows-1252", 1252},  {u"Shift_JIS", 932},      {u"utf-16", 1200},
      {u"ucs-2", 1200},         {u"UTF-16BE", 1201},      {u"unicodeFFFE", 1201},
      {u"GB2312", 936},         {u"big5", 950},           {u"KOI8-R", 20866},
      {u"EUC-JP", 20932},       {u"UTF-32", 65005},       {u"UTF-32BE", 65005},
      {u"utf-32", 12000},       {u"iso-8859-8 visual", 28598},
  };
  for (const Case& c : cases) {
    std::uint32_t codePage = 0;
    EXPECT_TRUE(XmlCodePageFromName(c.name, codePage)) << c.codePage;
    EXPECT_EQ(codePage, c.codePage);
  }
  std::uint32_t codePage = 7;
  EXPECT_FALSE(XmlCodePageFromName(u"utf-9", codePage));
  EXPECT_FALSE(XmlCodePageFromName(u"", codePage));
  EXPECT_FALSE(XmlCodePageFromName(u"utf-8 ", codePage));
  EXPECT_FALSE(XmlCodePageFromName(std::u16string(100, u'a'), codePage));
  EXPECT_EQ(codePage, 7u);
  EXPECT_TRUE(XmlCodePageFromName(u"UTF-32" + std::u16string(200, u'x'), codePage));
  EXPECT_EQ(codePage, 65005u);
}

TEST(XmlEncodingUtf8, Validity) {
  EXPECT_TRUE(XmlIsValidUtf8("plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
  const char* bad[] = {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                       "\xF8\x88\x80\x80\x80", "\x80", "\xE2\x82", "\xFF"};
  for (const char* b : bad) EXPECT_FALSE(XmlIsValidUtf8(b)) << b;
}

TEST(XmlEncodingUtf8, IllFormedSequencesBecomeOneReplacementEach) {
  std::u16string out;
  XmlAppendUtf8("a\xE2\x82" "b\xF0\x9F\x98\x80" "c\xED\xA0\x80" "d", out);
  EXPECT_EQ(out, u"a\xFFFD" u"b\xD83D\xDE00" u"c\xFFFD\xFFFD\xFFFD" u"d");
}

TEST(XmlEncodingUtf8, LongMixedTextAcrossEveryBlockBoundary) {
  // Runs of ASCII of every length up to 40 between two-, three- and
  // four-byte sequences and broken ones, so that each kind falls on every
  // offset of the 16-byte steps and of the output blocks.
  std::string bytes;
  std::u16string expected;
  for (int round = 0; round < 400; ++round) {
    const int run = round % 41;
    bytes.append(static_cast<std::size_t>(run), 'a');
    expected.append(static_cast<std::size_t>(run), u'a');
    switch (round % 6) {
      case 0: bytes += "\xC3\xA9"; expected += u"\x00E9"; break;
      case 1: bytes += "\xE2\x82\xAC"; expected += u"\x20AC"; break;
      case 2: bytes += "\xF0\x9F\x98\x80"; expected += u"\xD83D\xDE00"; break;
      case 3: bytes += "\xC0"; expected += u"\xFFFD"; break;              // never a lead
      case 4: bytes += "\xE2\x82" "b"; expected += u"\xFFFD" u"b"; break;  // cut short
      case 5: bytes += "\xBF\x80"; expected += u"\xFFFD\xFFFD"; break;    // stray continuations
    }
  }
  std::u16string out = u"kept";
  XmlAppendUtf8(bytes, out);
  EXPECT_EQ(out, u"kept" + expected);
  // A long ASCII run, then a two- and a three-byte sequence.
  std::u16string exact;
  XmlAppendUtf8(std::string(5000, 'x') + "\xD0\x96\xE4\xB8\xAD", exact);
  EXPECT_EQ(exact, std::u16string(5000, u'x') + u"\x0416\x4E2D");
  // Long text that well-formed counting says gives no unit at all.
  std::u16string strays = u"<";
  XmlAppendUtf8(std::string(5000, '\x80'), strays);
  EXPECT_EQ(strays, u"<" + std::u16string(5000, u'\xFFFD'));
  EXPECT_EQ(XmlUtf16LengthOfUtf8("a\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80"), 5u);
}

TEST(XmlEncodingUtf8, TextThatTurnsNonAsciiLateKeepsNoSpareRoom) {
  // The first pages are ASCII, so the text is first given a unit per byte;
  // three bytes per unit after them leave most of that room unused.
  std::string bytes = "<a>" + std::string(6000, 'x');
  std::u16string expected = u"<a>" + std::u16string(6000, u'x');
  for (int i = 0; i < 20000; ++i) {
    bytes += i % 1000 == 0 ? "\xFF" : "\xE4\xB8\xAD";  // now and then a byte that is never UTF-8
    expected += i % 1000 == 0 ? u'\xFFFD' : u'\x4E2D';
  }
  bytes += "</a>";
  expected += u"</a>";
  std::u16string out;
  XmlAppendUtf8(bytes, out);
  EXPECT_EQ(out, expected);
  EXPECT_LE(out.capacity(), out.size() + out.size() / 8);

  XmlDocument doc;
  ASSERT_TRUE(doc.LoadBytes(bytes));
  EXPECT_EQ(doc.GetText(), expected);
  EXPECT_LE(doc.GetText().capacity(), expected.size() + expected.size() / 8);
  EXPECT_NE(doc.GetResult().find(u"<converted_to encoding=\"UTF-16\" length=\"26007\"/>"), std::u16string::npos)
      << test_support::Ascii(doc.GetResult());
}

TEST(XmlEncodingPortable, SingleByteCodePages) {
  std::u16string out;
  ASSERT_TRUE(XmlDecodePortable(1252, "\x80\x81\x9F\xA0\xFF", out));
  EXPECT_EQ(out, u"\x20AC\x0081\x0178\x00A0\x00FF");
  ASSERT_TRUE(XmlDecodePortable(28591, "\x80\xFF", out));
  EXPECT_EQ(out, u"\x0080\x00FF");
  ASSERT_TRUE(XmlDecodePortable(20127, "A\xC1", out));
  EXPECT_EQ(out, u"A\xFFFD");
  EXPECT_FALSE(XmlDecodePortable(932, "A", out));

  // Longer than a block, with the high bytes at every offset of a step.
  std::string bytes;
  for (int i = 0; i < 9000; ++i) bytes += static_cast<char>(i % 7 == 0 ? 0x80 + i % 128 : 'a' + i % 26);
  ASSERT_TRUE(XmlDecodePortable(1252, bytes, out));
  ASSERT_EQ(out.size(), bytes.size());
  EXPECT_EQ(out[0], u'\x20AC');      // 0x80
  EXPECT_EQ(out[7 * 17], u'\x00F7');  // 0xF7: 119 % 128 = 119, 0x80 + 119
  EXPECT_EQ(out[8996], u'a');  // 8996 % 7 != 0, 8996 % 26 == 0
  for (std::size_t i = 0; i < bytes.size(); i += 7) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0xA0) {
      EXPECT_EQ(out[i], b) << i;
    }
  }
}

// --- Files ------------------------------------------------------------------

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class XmlLoadFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("xml_load_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::u16string Write(const std::u16string& name, const std::string& bytes) {
    const std::filesystem::path path = dir_ / std::filesystem::path(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path.u16string();
  }
  std::filesystem::path dir_;
};

TEST_F(XmlLoadFile, ReadsAndParses) {
  const std::u16string path = Write(u"servers \x0442\x0435\x0441\x0442.xml",
                                    "\xEF\xBB\xBF<servers><server host=\"a.example\"/></servers>");
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadFile(path));
  ASSERT_TRUE(doc.FindNextChild(u"server"));
  EXPECT_EQ(doc.ChildAttribute(u"host"), u"a.example");
  EXPECT_EQ(doc.GetResult().substr(0, 6), u"<bom/>");
}

TEST_F(XmlLoadFile, MissingFileReportsTheSystemError) {
  XmlDocument doc;
  EXPECT_FALSE(doc.LoadFile((dir_ / "missing.xml").u16string()));
  const std::u16string& result = doc.GetResult();
  ASSERT_EQ(result.substr(0, 17), u"<file_error msg=\"");
  EXPECT_NE(result.find(u"\" n=\"2\"/>"), std::u16string::npos);  // ENOENT and ERROR_FILE_NOT_FOUND
  EXPECT_EQ(result.find(u'\n'), std::u16string::npos);
  EXPECT_EQ(doc.GetText(), u"");
  EXPECT_FALSE(doc.FindNextElement());
}

TEST_F(XmlLoadFile, EmptyFileIsReadAsAnEmptyText) {
  XmlDocument doc;
  EXPECT_FALSE(doc.LoadFile(Write(u"empty.xml", "")));
  EXPECT_EQ(doc.GetText(), u"");
  // The same entries as for no bytes in memory: no file error.
  EXPECT_EQ(doc.GetResult(),
            u"<utf8_detection/><converted_to encoding=\"UTF-16\" length=\"0\"/>"
            u"<read encoding=\"UTF-8\" length=\"0\"/>");
}

// A file is decoded a block of 64 KB at a time when it is UTF-8 and its first
// block is ASCII, else whole; either way it must give what its bytes give
// from memory. Sequences and zero bytes are put across each block's end.
TEST_F(XmlLoadFile, ReadInBlocksGivesWhatTheBytesInMemoryGive) {
  constexpr std::size_t kBlock = 64 * 1024;
  using namespace std::string_literals;
  const std::string pieces[] = {"\xC3\xA9"s,     "\xE2\x82\xAC"s, "\xF0\x9F\x98\x80"s, "\xE2\x82"s,
                                "\xF0\x9F\x98"s, "\xBF\x80"s,     "\xE2\x00\x82\xAC"s, "\x00\x00"s,
                                "\xE0\x80\xAF"s, "\xC0\xAF"s,     "&amp;"s,              "\xFF"s};
  // An ASCII first block, then `piece` reaching from `offset` bytes before
  // the end of each later block to after it.
  auto document = [&](const std::string& start, std::size_t offset, const std::string& piece, std::size_t blocks) {
    std::string bytes = start + "<list>";
    for (std::size_t b = 2; b <= blocks + 1; ++b) {
      const std::size_t at = b * kBlock - offset;
      while (bytes.size() < at) bytes += bytes.size() % 61 == 0 ? "<i/>\n" : "x";
      bytes.resize(at);
      bytes += piece;
    }
    return bytes + "</list>";
  };
  std::vector<std::pair<std::string, std::string>> cases;
  for (const std::string& piece : pieces) {
    for (std::size_t offset = 0; offset <= 4; ++offset) {
      cases.push_back({"plain", document("", offset, piece, 3)});
      cases.push_back({"bom", document("\xEF\xBB\xBF", offset, piece, 1)});
      cases.push_back({"declared", document("<?xml version=\"1.0\" encoding=\"utf-8\"?>", offset, piece, 1)});
    }
    // The last bytes of the file, unfinished or not.
    cases.push_back({"end", std::string(kBlock + 10, ' ') + "<a/>" + piece});
  }
  cases.push_back({"non-ASCII first block", "<a>\xC3\xA9" + std::string(2 * kBlock, 'y') + "\xE2\x82\xAC</a>"});
  cases.push_back({"non-ASCII at the first block's end", std::string(kBlock - 1, ' ') + "\xC3\xA9<a/>"});
  cases.push_back({"windows-1252", document("<?xml version=\"1.0\" encoding=\"windows-1252\"?>", 1, "\xE9", 2)});
  cases.push_back({"utf-16", "\xFF\xFE<\0a\0/\0>\0"s});
  cases.push_back({"no declaration", " " + document("", 2, "\xC3\xA9", 1)});
  cases.push_back({"short", "<a/>"});
  cases.push_back({"empty", ""});
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const auto& [name, bytes] = cases[k];
    XmlDocument fromMemory;
    const bool memoryWellFormed = fromMemory.LoadBytes(bytes);
    XmlDocument fromFile;
    const bool fileWellFormed = fromFile.LoadFile(Write(u"case" + Utf16(std::to_string(k)) + u".xml", bytes));
    SCOPED_TRACE(name + " #" + std::to_string(k));
    EXPECT_EQ(fileWellFormed, memoryWellFormed);
    EXPECT_TRUE(fromFile.GetText() == fromMemory.GetText()) << fromFile.GetText().size() << " units against "
                                                            << fromMemory.GetText().size();
    EXPECT_EQ(test_support::Ascii(fromFile.GetResult()), test_support::Ascii(fromMemory.GetResult()));
    EXPECT_EQ(fromFile.GetFlags(), fromMemory.GetFlags());
    EXPECT_LE(fromFile.GetText().capacity(), fromFile.GetText().size() + fromFile.GetText().size() / 8 + 16);
  }
}

// A reader that announces one size and then gives fewer bytes, in pieces of
// 1000, and ends with the status the test sets.
struct ShortReader {
  static inline std::size_t announced = 0;
  static inline std::string given;
  static inline XmlFileStatus status;

  static XmlFileStatus Read(const std::u16string&, XmlFileSink& sink) {
    if (!sink.Begin(announced)) return {};
    for (std::size_t done = 0; done < given.size();) {
      const std::span<char> room = sink.Room();
      const std::size_t n = std::min({room.size(), given.size() - done, std::size_t{1000}});
      std::memcpy(room.data(), given.data() + done, n);
      if (!sink.Filled(n)) return {};
      done += n;
    }
    return status;
  }
};

TEST(XmlLoadFileReader, FileThatShrankWhileReadGivesWhatCame) {
  const std::string bytes = "<a>" + std::string(100000, 'x') + "\xE2\x82\xAC</a>";
  for (const std::size_t cut : {bytes.size(), std::size_t{70000}, std::size_t{5000}}) {
    ShortReader::announced = bytes.size() + 50000;
    ShortReader::given = bytes.substr(0, cut);
    ShortReader::status = XmlFileStatus{};
    ShortReader::status.ok = true;
    XmlDocument fromFile;
    fromFile.SetFileReader(&ShortReader::Read);
    XmlDocument fromMemory;
    EXPECT_EQ(fromFile.LoadFile(u"shrinking.xml"), fromMemory.LoadBytes(ShortReader::given)) << cut;
    EXPECT_TRUE(fromFile.GetText() == fromMemory.GetText()) << cut;
    EXPECT_EQ(test_support::Ascii(fromFile.GetResult()), test_support::Ascii(fromMemory.GetResult()));
  }
}

TEST(XmlLoadFileReader, ReadThatFailsHalfWayLeavesNoTextAndSaysWhy) {
  ShortReader::announced = 200000;
  ShortReader::given = "<a>" + std::string(150000, 'x');
  ShortReader::status = XmlFileStatus{};
  ShortReader::status.errorCode = 23;
  ShortReader::status.errorText = u"Data error (cyclic redundancy check).";
  XmlDocument doc;
  doc.SetFileReader(&ShortReader::Read);
  EXPECT_FALSE(doc.LoadFile(u"failing.xml"));
  EXPECT_EQ(doc.GetText(), u"");
  EXPECT_EQ(doc.GetText().capacity(), std::u16string().capacity());
  EXPECT_EQ(doc.GetResult(), u"<file_error msg=\"Data error (cyclic redundancy check).\" n=\"23\"/>");
  EXPECT_FALSE(doc.FindNextElement());
}

TEST_F(XmlLoadFile, NotWellFormedFileKeepsFileEntriesFirst) {
  const std::u16string path = Write(u"bad.xml", "<a><b></a>");
  XmlDocument doc;
  EXPECT_FALSE(doc.LoadFile(path));
  EXPECT_EQ(doc.GetResult(),
            u"<converted_to encoding=\"UTF-16\" length=\"10\"/><read encoding=\"UTF-8\" length=\"10\"/>"
            u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"6\"/>");
}

}  // namespace
}  // namespace veltrona::xml
