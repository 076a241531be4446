#include "client/xml/xml_text.h"

#include <gtest/gtest.h>

#include "client/xml/xml_tables.h"

namespace veltrona::xml {
namespace {

TEST(XmlUnescape, CharacterReferences) {
  EXPECT_EQ(XmlUnescape(u"&#65;&#x42;&#x1F600;"), u"AB\xD83D\xDE00");
  EXPECT_EQ(XmlUnescape(u"&#x10FFFF;"), u"\xDBFF\xDFFF");
  EXPECT_EQ(XmlUnescape(u"a&#32;b"), u"a b");
}

TEST(XmlUnescape, NamedReferencesIgnoreCase) {
  EXPECT_EQ(XmlUnescape(u"&amp;&lt;&gt;&quot;&apos;"), u"&<>\"'");
  EXPECT_EQ(XmlUnescape(u"&AMP;&Lt;&APOS;"), u"&<'");
  EXPECT_EQ(XmlUnescape(u"&euro;&nbsp;&thetasym;&frac12;"), u"\x20AC\x00A0\x03D1\x00BD");
}

TEST(XmlUnescape, NamesDifferingOnlyInCase) {
  // The exact spelling wins; any other spelling reads as the small letter.
  EXPECT_EQ(XmlUnescape(u"&Alpha;&alpha;&ALPHA;"), u"\x0391\x03B1\x03B1");
  EXPECT_EQ(XmlUnescape(u"&Dagger;&dagger;&DAGGER;"), u"\x2021\x2020\x2020");
  EXPECT_EQ(XmlUnescape(u"&rArr;&rarr;&RARR;"), u"\x21D2\x2192\x2192");
}

TEST(XmlUnescape, EveryTableNameResolvesToItself) {
  ASSERT_EQ(internal::kEntityNameCount, 253u);
  for (std::size_t i = 0; i < internal::kEntityNameCount; ++i) {
    const char* name = internal::kEntityNames[i].name;
    std::u16string text = u"&";
    for (const char* p = name; *p; ++p) text += static_cast<char16_t>(*p);
    text += u';';
    EXPECT_EQ(XmlUnescape(text), std::u16string(1, internal::kEntityNames[i].value)) << name;
  }
}

TEST(XmlUnescape, IncompleteOrUnknownReferencesKeepTheAmpersand) {
  const char16_t* unchanged[] = {
      u"&nosuch;", u"&#0;", u"&#x0;", u"&toolongname;", u"&amp", u"& amp;", u"&#;", u"&#x;",
      u"&#x110000;", u"&#99999999999999999999;", u"&#xD800;", u"&#12a;", u"&", u"&&", u"&#X41;",
  };
  for (const char16_t* text : unchanged) EXPECT_EQ(XmlUnescape(text), text);
  EXPECT_EQ(XmlUnescape(u"&&amp;&"), u"&&&");
  EXPECT_EQ(XmlUnescape(u"&bogus;&amp;"), u"&bogus;&");
}

TEST(XmlEscape, TextAndAttributes) {
  EXPECT_EQ(XmlEscapeText(u"a<b>&c\"'"), u"a&lt;b&gt;&amp;c\"'");
  EXPECT_EQ(XmlEscapeAttribute(u"a<b>&c\"'"), u"a&lt;b&gt;&amp;c&quot;&apos;");
}

TEST(XmlEscape, ExistingReferencesCanBeKept) {
  EXPECT_EQ(XmlEscapeText(u"&amp; & &#1; &x &#x41;", XML_ESCAPE_KEEP_REFERENCES),
            u"&amp; &amp; &#1; &amp;x &#x41;");
  EXPECT_EQ(XmlEscapeText(u"&amp;"), u"&amp;amp;");
}

TEST(XmlEscape, CDataSplitsItsTerminator) {
  EXPECT_EQ(XmlEscapeCData(u"a]]>b"), u"<![CDATA[a]]]]><![CDATA[>b]]>");
  EXPECT_EQ(XmlEscapeCData(u""), u"<![CDATA[]]>");
}

TEST(XmlEscape, RoundTrip) {
  const std::u16string text = u"<tag attr=\"x & 'y'\">\x00E9\xD83D\xDE00</tag>";
  EXPECT_EQ(XmlUnescape(XmlEscapeAttribute(text)), text);
  EXPECT_EQ(XmlUnescape(XmlEscapeText(text)), text);
}

}  // namespace
}  // namespace veltrona::xml
