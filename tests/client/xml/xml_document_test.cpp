#include "client/xml/xml_document.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrona::xml {
namespace {

std::u16string Repeat(std::u16string_view piece, int times) {
  std::u16string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// Names of the children of the element at `current`, in order.
std::u16string ChildNames(XmlDocument& doc) {
  std::u16string names;
  while (doc.FindNextChild()) {
    const ElementPosition& e = doc.Record(doc.Child());
    names += doc.GetText().substr(e.start + 1, 1);
  }
  return names;
}

// --- Well-formedness and result entries -------------------------------------

TEST(XmlDocumentParse, EmptyTextIsNotWellFormedAndAddsNoEntry) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u""));
  EXPECT_EQ(doc.GetResult(), u"");
  EXPECT_FALSE(doc.SetText(nullptr));
  EXPECT_EQ(doc.GetResult(), u"");
  EXPECT_TRUE(doc.Record(0).flags & XML_DOC_NOT_WELL_FORMED);
}

TEST(XmlDocumentParse, TakingTheTextLeavesTheDocumentAsAnEmptyOne) {
  const std::u16string text = u"<?xml version=\"1.0\"?>\r\n<a x=\"1\"><b/></a>\r\n";
  XmlDocument doc;
  ASSERT_TRUE(doc.SetText(std::u16string(text)));
  ASSERT_TRUE(doc.FindNextElement(u"a"));
  EXPECT_EQ(doc.TakeText(), text) << "handed over unchanged";
  EXPECT_EQ(doc.GetText(), u"");
  EXPECT_TRUE(doc.Record(0).flags & XML_DOC_NOT_WELL_FORMED);
  doc.ResetPosition();
  EXPECT_FALSE(doc.FindNextElement(u"a"));
  EXPECT_TRUE(doc.SetText(text)) << "and can be filled again";
}

TEST(XmlDocumentParse, WellFormedDocumentWithPrologAndTrailer) {
  XmlDocument doc;
  EXPECT_TRUE(doc.SetText(
      u"<?xml version=\"1.0\"?>\r\n<!DOCTYPE r [<!ENTITY x \"a>b\"><!-- > --><?p > ?>]>\n"
      u"<!-- c --><r a=\"x>y\"><![CDATA[</r>]]></r>  trailing text"));
  EXPECT_EQ(doc.GetResult(), u"");
  EXPECT_FALSE(doc.Record(0).flags & XML_DOC_NOT_WELL_FORMED);
  EXPECT_EQ(doc.RecordCount(), 2u);
}

TEST(XmlDocumentParse, TwoRootsReportSibling) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"<a/><b/>"));
  EXPECT_EQ(doc.GetResult(), u"<root_has_sibling/>");
}

TEST(XmlDocumentParse, TextWithoutElementsHasNoRoot) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"just text <!-- and a comment -->"));
  EXPECT_EQ(doc.GetResult(), u"<no_root_element/>");
}

TEST(XmlDocumentParse, StartTagClosedByOuterEndTagStaysChild) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"<a><b></a>"));
  EXPECT_EQ(doc.GetResult(), u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"6\"/>");
  const ElementPosition& a = doc.Record(1);
  const ElementPosition& b = doc.Record(2);
  EXPECT_EQ(a.length, 10u);
  EXPECT_EQ(a.firstChild, 2u);
  EXPECT_EQ(b.parent, 1u);
  EXPECT_EQ(b.length, 3u);
  EXPECT_EQ(b.endTagLength, 0u);
  EXPECT_TRUE(b.flags & XML_ELEM_NEVER_ENDED);
}

TEST(XmlDocumentParse, LoneEndTagMarksItsElement) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"<a></b></a>"));
  EXPECT_EQ(doc.GetResult(), u"<lone_end_tag tagname=\"b\" offset=\"3\"/>");
  EXPECT_TRUE(doc.Record(1).flags & XML_ELEM_ILL_FORMED);
  EXPECT_EQ(doc.Record(1).length, 11u);
}

TEST(XmlDocumentParse, ResultValuesAreEscaped) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"<r></x\"<y></r>"));
  EXPECT_EQ(doc.GetResult(), u"<lone_end_tag tagname=\"x&quot;&lt;y\" offset=\"3\"/>");
}

TEST(XmlDocumentParse, SyntaxErrorsWithOffsets) {
  struct Case {
    const char16_t* text;
    const char16_t* result;
  };
  const Case cases[] = {
      {u"<a>< b></a>", u"<first_tag_syntax offset=\"4\"/>"},
      {u"<a><!x></a>", u"<exclamation_tag_syntax offset=\"5\"/>"},
      {u"<a><!-x></a>", u"<comment_tag_syntax offset=\"6\"/>"},
      {u"<a><![X></a>", u"<cdata_section_syntax offset=\"6\"/>"},
      {u"<!DOCTYPE a [<!Z>]><a/>", u"<doctype_tag_syntax offset=\"15\"/>"},
  };
  for (const Case& c : cases) {
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText(c.text)) << std::string(c.text, c.text + 4);
    EXPECT_EQ(doc.GetResult(), c.result);
  }
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"<a>< b></a>"));
  EXPECT_TRUE(doc.Record(1).flags & XML_ELEM_ILL_FORMED);
}

TEST(XmlDocumentParse, UnterminatedTokensNameTheirKind) {
  struct Case {
    const char16_t* tail;
    const char16_t* type;
  };
  const Case cases[] = {
      {u"<", u"tag"},
      {u"<!", u"tag"},
      {u"<b x='>", u"start_tag"},
      {u"</b", u"end_tag"},
      {u"<?pi", u"processing_instruction"},
      {u"<!-- c", u"comment"},
      {u"<![CDATA[x", u"cdata_section"},
      {u"<!DOCTYPE a [<!ENTITY", u"document_type"},
  };
  for (const Case& c : cases) {
    XmlDocument doc;
    EXPECT_FALSE(doc.SetText(u"<a/>" + std::u16string(c.tail)));
    EXPECT_EQ(doc.GetResult(),
              u"<unterminated_tag_syntax type=\"" + std::u16string(c.type) + u"\" offset=\"4\"/>");
  }
}

TEST(XmlDocumentParse, UnterminatedInsideElementAlsoClosesIt) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"<a><b x=\"1"));
  EXPECT_EQ(doc.GetResult(),
            u"<unterminated_tag_syntax type=\"start_tag\" offset=\"3\"/>"
            u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"10\"/>");
}

TEST(XmlDocumentParse, ResultStopsGrowingPast999Characters) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"<r>" + Repeat(u"<!x>", 300) + u"</r>"));
  const std::u16string& result = doc.GetResult();
  EXPECT_GT(result.size(), 999u);
  EXPECT_LT(result.size(), 999u + 40u);
  EXPECT_EQ(result.substr(result.size() - 2), u"/>");
  // Entries go in while the text is at most 999 long; the one that crosses
  // the limit is the last, and it is complete.
  std::u16string expected;
  for (int k = 0; k < 300 && expected.size() <= 999; ++k) {
    expected += u"<exclamation_tag_syntax offset=\"";
    for (char c : std::to_string(5 + 4 * k)) expected += static_cast<char16_t>(c);
    expected += u"\"/>";
  }
  EXPECT_EQ(result, expected);
}

TEST(XmlDocumentParse, StreamingModesRefuseText) {
  XmlDocument doc;
  doc.SetFlags(XML_READ_FILE);
  EXPECT_FALSE(doc.SetText(u"<a/>"));
  doc.SetFlags(XML_WRITE_FILE);
  EXPECT_FALSE(doc.SetText(u"<a/>"));
  doc.SetFlags(0);
  EXPECT_TRUE(doc.SetText(u"<a/>"));
}

// --- Index shape ------------------------------------------------------------

TEST(XmlDocumentIndex, LevelsLinksAndFirstChildFlag) {
  XmlDocument doc;
  ASSERT_TRUE(doc.SetText(u"<r><a/><b><c/></b><d/></r>"));
  ASSERT_EQ(doc.RecordCount(), 6u);
  const ElementPosition& r = doc.Record(1);
  EXPECT_EQ(doc.Record(0).firstChild, 1u);
  EXPECT_EQ(doc.Record(0).length, 26u);
  EXPECT_EQ(r.firstChild, 2u);
  EXPECT_EQ(r.level, 0u);
  EXPECT_EQ(doc.Record(2).previous, 5u);  // first child holds the last sibling
  EXPECT_EQ(doc.Record(2).next, 3u);
  EXPECT_EQ(doc.Record(3).next, 5u);
  EXPECT_EQ(doc.Record(5).previous, 3u);
  EXPECT_EQ(doc.Record(5).next, 0u);
  EXPECT_TRUE(doc.Record(2).flags & XML_ELEM_FIRST_CHILD);
  EXPECT_FALSE(doc.Record(3).flags & XML_ELEM_FIRST_CHILD);
  EXPECT_TRUE(doc.Record(4).flags & XML_ELEM_FIRST_CHILD);
  EXPECT_EQ(doc.Record(4).level, 2u);
  EXPECT_EQ(doc.Record(4).parent, 3u);
  EXPECT_EQ(doc.Record(3).length, 11u);
  EXPECT_EQ(doc.Record(3).startTagLength, 3u);
  EXPECT_EQ(doc.Record(3).endTagLength, 4u);
  EXPECT_EQ(doc.Record(2).length, doc.Record(2).startTagLength);
}

TEST(XmlDocumentIndex, NeverEndedElementsHandTheirChildrenToTheParent) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"<r><a><x/><b><y/></r>"));
  EXPECT_EQ(doc.GetResult(),
            u"<unended_start_tag tagname=\"b\" offset=\"10\" offset2=\"17\"/>"
            u"<unended_start_tag tagname=\"a\" offset=\"3\" offset2=\"17\"/>");
  ASSERT_TRUE(doc.FindNextElement(u"r"));
  EXPECT_EQ(ChildNames(doc), u"axby");
  for (std::uint32_t i = 2; i <= 5; ++i) EXPECT_EQ(doc.Record(i).parent, 1u) << i;
  EXPECT_EQ(doc.Record(2).firstChild, 0u);
  EXPECT_EQ(doc.Record(4).firstChild, 0u);
  EXPECT_EQ(doc.Record(2).previous, 5u);
  EXPECT_EQ(doc.Record(5).next, 0u);
  EXPECT_TRUE(doc.Record(2).flags & XML_ELEM_FIRST_CHILD);
  EXPECT_FALSE(doc.Record(3).flags & XML_ELEM_FIRST_CHILD);
  EXPECT_FALSE(doc.Record(5).flags & XML_ELEM_FIRST_CHILD);
  EXPECT_EQ(doc.Record(1).length, 21u);
}

TEST(XmlDocumentIndex, IllFormedMarkMovesOutOfNeverEndedElements) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"<r><a><b><!x></r>"));
  EXPECT_TRUE(doc.Record(1).flags & XML_ELEM_ILL_FORMED);
  EXPECT_FALSE(doc.Record(2).flags & XML_ELEM_ILL_FORMED);
  EXPECT_FALSE(doc.Record(3).flags & XML_ELEM_ILL_FORMED);
}

TEST(XmlDocumentIndex, OpenElementsAtEndBecomeTopLevel) {
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(u"<a><b><c/>"));
  EXPECT_EQ(doc.GetResult(),
            u"<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"10\"/>"
            u"<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"10\"/>"
            u"<root_has_sibling/>");
  int top = 0;
  while (doc.FindNextElement()) ++top;
  EXPECT_EQ(top, 3);
  EXPECT_EQ(doc.Record(3).parent, 0u);
}

TEST(XmlDocumentIndex, CapacityStartsFromTextLengthAndGrowsByHalf) {
  XmlDocument doc;
  ASSERT_TRUE(doc.SetText(u"<r>" + Repeat(u"<s/>", 100) + u"</r>"));  // 407 units
  EXPECT_EQ(doc.RecordCount(), 102u);
  EXPECT_EQ(doc.RecordCapacity(), 103u);  // 14, 21, 31, 46, 69, 103
  XmlDocument small;
  ASSERT_TRUE(small.SetText(u"<r>" + std::u16string(634, u'x') + u"</r>"));  // 641 units
  EXPECT_EQ(small.RecordCapacity(), 18u);
}

TEST(XmlDocumentIndex, DocumentLargerThanOneBlock) {
  const int kChildren = 70000;
  std::u16string text = u"<r>";
  for (int i = 0; i < kChildren; ++i) {
    text += u"<s i=\"";
    for (char c : std::to_string(i)) text += static_cast<char16_t>(c);
    text += u"\"/>";
  }
  text += u"</r>";
  XmlDocument doc;
  ASSERT_TRUE(doc.SetText(text));
  ASSERT_EQ(doc.RecordCount(), kChildren + 2u);
  EXPECT_EQ(doc.Record(65535).next, 65536u);
  EXPECT_EQ(doc.Record(65536).previous, 65535u);
  EXPECT_EQ(doc.Record(65536).parent, 1u);
  EXPECT_EQ(doc.Record(2).previous, kChildren + 1u);
  ASSERT_TRUE(doc.FindNextElement(u"r"));
  int seen = 0;
  while (doc.FindNextChild(u"s")) {
    if (seen == 65534 || seen == kChildren - 1) {
      std::u16string expect;
      for (char c : std::to_string(seen)) expect += static_cast<char16_t>(c);
      EXPECT_EQ(doc.ChildAttribute(u"i"), expect);
    }
    ++seen;
  }
  EXPECT_EQ(seen, kChildren);
}

TEST(XmlDocumentIndex, DeepUnclosedNestingParsesCompletely) {
  const int kDepth = 100000;
  XmlDocument doc;
  EXPECT_FALSE(doc.SetText(Repeat(u"<a>", kDepth)));
  EXPECT_EQ(doc.RecordCount(), kDepth + 1u);
  EXPECT_EQ(doc.Record(kDepth).parent, 0u);
  EXPECT_EQ(doc.Record(1).firstChild, 0u);
  int top = 0;
  while (doc.FindNextElement(u"a")) ++top;
  EXPECT_EQ(top, kDepth);

  // End tags that match nothing, then one that matches the outermost.
  EXPECT_FALSE(doc.SetText(u"<x>" + Repeat(u"<a>", kDepth) + Repeat(u"</b>", kDepth) + u"</x>"));
  EXPECT_EQ(doc.Record(1).length, doc.GetText().size());
  EXPECT_EQ(doc.Record(kDepth + 1).parent, 1u);
}

// --- Navigation -------------------------------------------------------------

TEST(XmlDocumentNavigation, NothingToFindBeforeFirstParse) {
  XmlDocument doc;
  EXPECT_FALSE(doc.FindNextElement());
  EXPECT_FALSE(doc.FindNextChild());
  EXPECT_EQ(doc.ElementData(), u"");
  EXPECT_EQ(doc.ElementAttribute(u"a"), u"");
}

TEST(XmlDocumentNavigation, SearchesOnlyMoveForward) {
  XmlDocument doc(u"<cfg><b v=\"1\"/><a v=\"2\"/><b v=\"3\"/></cfg>");
  ASSERT_TRUE(doc.FindNextChild(u"a"));
  EXPECT_EQ(doc.ChildAttribute(u"v"), u"2");
  EXPECT_EQ(doc.ElementAttribute(u"v"), u"");  // current is cfg
  ASSERT_TRUE(doc.FindNextChild(u"b"));
  EXPECT_EQ(doc.ChildAttribute(u"v"), u"3");
  EXPECT_FALSE(doc.FindNextChild(u"a"));
  EXPECT_EQ(doc.ChildAttribute(u"v"), u"3");  // a failed search keeps the cursors
  doc.ResetPosition();
  EXPECT_EQ(doc.Current(), 0u);
  ASSERT_TRUE(doc.FindNextChild(u"b"));
  EXPECT_EQ(doc.ChildAttribute(u"v"), u"1");
}

TEST(XmlDocumentNavigation, EnterAndLeave) {
  XmlDocument doc(u"<r><s n=\"1\"><h>x</h><h>y</h></s><s n=\"2\"/></r>");
  EXPECT_FALSE(doc.EnterElement());
  EXPECT_FALSE(doc.LeaveElement());
  ASSERT_TRUE(doc.FindNextElement(u"r"));
  ASSERT_TRUE(doc.FindNextChild(u"s"));
  ASSERT_TRUE(doc.EnterElement());
  EXPECT_EQ(doc.ElementAttribute(u"n"), u"1");
  EXPECT_EQ(doc.Parent(), 1u);
  ASSERT_TRUE(doc.FindNextChild(u"h"));
  ASSERT_TRUE(doc.FindNextChild(u"h"));
  ASSERT_TRUE(doc.EnterElement());
  EXPECT_EQ(doc.ElementData(), u"y");
  ASSERT_TRUE(doc.LeaveElement());
  ASSERT_TRUE(doc.LeaveElement());
  EXPECT_EQ(doc.ChildAttribute(u"n"), u"1");
  ASSERT_TRUE(doc.FindNextChild(u"s"));
  EXPECT_EQ(doc.ChildAttribute(u"n"), u"2");
  EXPECT_FALSE(doc.LeaveElement());  // r is at the top
  EXPECT_EQ(doc.Current(), 1u);
}

TEST(XmlDocumentNavigation, FindNextElementAmongSiblingsUnderParent) {
  XmlDocument doc(u"<r><a/><b/><a/></r>");
  ASSERT_TRUE(doc.FindNextElement());
  ASSERT_TRUE(doc.EnterElement());  // parent r, current none
  EXPECT_TRUE(doc.FindNextElement(u"b"));
  EXPECT_TRUE(doc.FindNextElement(u"a"));
  EXPECT_FALSE(doc.FindNextElement(u"b"));
  EXPECT_EQ(doc.Current(), 4u);
}

TEST(XmlDocumentNavigation, NamesMustMatchOverTheirWholeLength) {
  XmlDocument doc(u"<r><server/><serv/></r>");
  ASSERT_TRUE(doc.FindNextChild(u"serv"));
  EXPECT_EQ(doc.Child(), 3u);
  doc.ResetPosition();
  EXPECT_FALSE(doc.FindNextChild(u"serverlist"));
}

TEST(XmlDocumentNavigation, StreamingModeFlags) {
  XmlDocument doc(u"<r><a/></r>");
  doc.SetFlags(XML_READ_FILE);
  EXPECT_FALSE(doc.FindNextChild());
  EXPECT_TRUE(doc.FindNextElement());
  doc.SetFlags(XML_WRITE_FILE);
  doc.ResetPosition();
  EXPECT_FALSE(doc.FindNextElement());
}

TEST(XmlDocumentNavigation, CaseOfNamesMattersUnlessFlagged) {
  XmlDocument strict(u"<Servers><Server HOST=\"h1\"/></Servers>");
  EXPECT_FALSE(strict.FindNextElement(u"servers"));
  ASSERT_TRUE(strict.FindNextChild(u"Server"));
  EXPECT_EQ(strict.ChildAttribute(u"host"), u"");
  EXPECT_EQ(strict.ChildAttribute(u"HOST"), u"h1");

  XmlDocument loose;
  loose.SetFlags(XML_IGNORE_CASE);
  ASSERT_TRUE(loose.SetText(u"<Servers><Server HOST=\"h1\"/></SERVERS>"));
  ASSERT_TRUE(loose.FindNextElement(u"servers"));
  ASSERT_TRUE(loose.FindNextChild(u"sErVeR"));
  EXPECT_EQ(loose.ChildAttribute(u"host"), u"h1");

  XmlDocument endTags;
  EXPECT_FALSE(endTags.SetText(u"<a></A>"));
}

// --- Attributes and data ----------------------------------------------------

TEST(XmlDocumentValues, AttributeForms) {
  XmlDocument doc(u"<e a=\"1\" b='2' c=3 d = \"4\" flag e=\"x&amp;y&#33;\" a=\"dup\" q='say \"hi\"' u=v/>");
  ASSERT_TRUE(doc.FindNextElement());
  EXPECT_EQ(doc.ElementAttribute(u"a"), u"1");
  EXPECT_EQ(doc.ElementAttribute(u"b"), u"2");
  EXPECT_EQ(doc.ElementAttribute(u"c"), u"3");
  EXPECT_EQ(doc.ElementAttribute(u"d"), u"4");
  EXPECT_EQ(doc.ElementAttribute(u"flag"), u"");
  EXPECT_EQ(doc.ElementAttribute(u"e"), u"x&y!");
  EXPECT_EQ(doc.ElementAttribute(u"q"), u"say \"hi\"");
  EXPECT_EQ(doc.ElementAttribute(u"u"), u"v/");  // unquoted values run to white space or ">"
  EXPECT_EQ(doc.ElementAttribute(u"missing"), u"");
  EXPECT_EQ(doc.ElementAttribute(u"e\"x"), u"");
}

TEST(XmlDocumentValues, AttributesAskedInAnyOrderAndOfSeveralElements) {
  XmlDocument doc(u"<r><h n=\"one\" p=\"True\" d=\"x\" n=\"dup\"/><h d=\"y\" n=\"two\"/><h/></r>");
  ASSERT_TRUE(doc.FindNextChild(u"h"));
  EXPECT_EQ(doc.ChildAttribute(u"d"), u"x");
  EXPECT_EQ(doc.ChildAttribute(u"n"), u"one");  // the first of the two, though the tag was read past it
  EXPECT_EQ(doc.ChildAttribute(u"p"), u"True");
  EXPECT_EQ(doc.ChildAttribute(u"missing"), u"");
  EXPECT_EQ(doc.ChildAttribute(u"n"), u"one");
  EXPECT_EQ(doc.ElementAttribute(u"n"), u"");  // <r> has none
  EXPECT_EQ(doc.ChildAttribute(u"d"), u"x");
  doc.SetFlags(XML_IGNORE_CASE);
  EXPECT_EQ(doc.ChildAttribute(u"P"), u"True");
  doc.SetFlags(0);
  EXPECT_EQ(doc.ChildAttribute(u"P"), u"");
  ASSERT_TRUE(doc.FindNextChild(u"h"));
  EXPECT_EQ(doc.ChildAttribute(u"n"), u"two");
  EXPECT_EQ(doc.ChildAttribute(u"p"), u"");
  ASSERT_TRUE(doc.FindNextChild(u"h"));
  EXPECT_EQ(doc.ChildAttribute(u"n"), u"");

  // Found by its name in other capitals, an element's attributes are read
  // from just after that name, which is never one of them.
  ASSERT_TRUE(doc.SetText(u"<r><HOST\thostname=\"h\"/><hostx hostname=\"no\"/></r>"));
  doc.SetFlags(XML_IGNORE_CASE);
  ASSERT_TRUE(doc.FindNextChild(u"host"));
  EXPECT_EQ(doc.ChildAttribute(u"hostname"), u"h");
  EXPECT_EQ(doc.ChildAttribute(u"host"), u"");
  EXPECT_FALSE(doc.FindNextChild(u"host"));
  doc.SetFlags(0);

  // A new text at the same element numbers is read afresh.
  ASSERT_TRUE(doc.SetText(u"<r><h n=\"three\"/></r>"));
  ASSERT_TRUE(doc.FindNextChild(u"h"));
  EXPECT_EQ(doc.ChildAttribute(u"n"), u"three");
  EXPECT_EQ(doc.ChildAttribute(u"d"), u"");
}

TEST(XmlDocumentValues, QuotedGreaterThanAtEveryAlignment) {
  // The tag scan looks at several units at a time; shift the quote and the
  // ">" inside it across those steps.
  for (int pad = 0; pad < 20; ++pad) {
    const std::u16string padding(static_cast<std::size_t>(pad), u'p');
    XmlDocument doc;
    ASSERT_TRUE(doc.SetText(u"<r " + padding + u"=\"1\" v='a>\"b' w=\"c>d\"><s/></r>")) << pad;
    ASSERT_TRUE(doc.FindNextElement());
    EXPECT_EQ(doc.ElementAttribute(u"v"), u"a>\"b");
    EXPECT_EQ(doc.ElementAttribute(u"w"), u"c>d");
    EXPECT_TRUE(doc.FindNextChild(u"s"));
  }
}

TEST(XmlDocumentValues, AttributeValuesKeepTheirCase) {
  XmlDocument doc(u"<s proxy=\"True\" other=\"true\"/>");
  ASSERT_TRUE(doc.FindNextElement());
  EXPECT_EQ(doc.ElementAttribute(u"proxy"), u"True");
  EXPECT_NE(doc.ElementAttribute(u"proxy"), doc.ElementAttribute(u"other"));
}

TEST(XmlDocumentValues, ElementData) {
  struct Case {
    const char16_t* text;
    const char16_t* data;
  };
  const Case cases[] = {
      {u"<a>a&amp;b</a>", u"a&b"},
      {u"<a><![CDATA[<y>]]></a>", u"<y>"},
      {u"<a><b/></a>", u""},
      {u"<a/>", u""},
      {u"<a>  </a>", u"  "},
      {u"<a> x <!-- c --> <?p?> y <![CDATA[&amp;]]>\n</a>", u" x  y &amp;"},
      {u"<a>1<![CDATA[]]>2</a>", u"12"},
      {u"<a>&lt;&#x3C;</a>", u"<<"},
      // A reference before a comment or CDATA section, and one after it.
      {u"<a>x&amp;y<!--&amp;-->z</a>", u"x&yz"},
      {u"<a><![CDATA[&amp;]]>&amp;</a>", u"&amp;&"},
      {u"<a>plain text</a>", u"plain text"},
  };
  for (const Case& c : cases) {
    XmlDocument doc(c.text);
    ASSERT_TRUE(doc.FindNextElement());
    EXPECT_EQ(doc.ElementData(), c.data);
  }
  XmlDocument never(u"<r><a>text</r>");
  ASSERT_TRUE(never.FindNextChild(u"a"));
  ASSERT_TRUE(never.EnterElement());
  EXPECT_EQ(never.ElementData(), u"");
}

}  // namespace
}  // namespace veltrona::xml
