#include "client/app/credentials_text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/test_text.h"

namespace veltrona::app {

using test_support::Ascii;

// Failures show the three texts rather than the object's bytes.
void PrintTo(const Credentials& credentials, std::ostream* out) {
  *out << "{user \"" << Ascii(credentials.vpn_id) << "\", pass \"" << Ascii(credentials.activation_code)
       << "\", server \"" << Ascii(credentials.server) << "\"}";
}

namespace {

TEST(CredentialsText, MarkupCharactersAreEscapedAndReadBackAsTyped) {
  const Credentials typed{u"a<b&c>d", u"a<b&c>d", u"a<b&c>d"};
  const std::u16string text = CredentialsText(typed);
  EXPECT_EQ(Ascii(text),
            "<credentials><user>a&lt;b&amp;c&gt;d</user><pass>a&lt;b&amp;c&gt;d</pass>"
            "<server>a&lt;b&amp;c&gt;d</server></credentials>");
  EXPECT_EQ(ReadCredentialsText(text), typed);

  // A text that already looks like a reference is the user's text too.
  const Credentials reference{u"&amp;", u"&#60;", u"vpn.example"};
  EXPECT_EQ(ReadCredentialsText(CredentialsText(reference)), reference);

  const Credentials empty;
  EXPECT_EQ(Ascii(CredentialsText(empty)), "<credentials><user></user><pass></pass><server></server></credentials>");
  EXPECT_EQ(ReadCredentialsText(CredentialsText(empty)), empty);

  const Credentials wide{u"\u00e9\u4e2d\U0001F511", u"code", u"vpn.example"};
  EXPECT_EQ(ReadCredentialsText(CredentialsText(wide)), wide);
}

TEST(CredentialsText, TextOfTheEarlierUnescapedWriterStillLoads) {
  EXPECT_EQ(ReadCredentialsText(u"<credentials><user>1001</user><pass>X7-99</pass><server>vpn.example</server>"
                                u"</credentials>"),
            (Credentials{u"1001", u"X7-99", u"vpn.example"}));
  // What that writer made of a code with "<" in it cannot be read at all, not
  // even in part.
  EXPECT_EQ(ReadCredentialsText(u"<credentials><user>1001</user><pass>a<b</pass><server>vpn.example</server>"
                                u"</credentials>"),
            Credentials{});
}

TEST(CredentialsText, MissingElementsLeaveTheirTextEmpty) {
  EXPECT_EQ(ReadCredentialsText(u"<credentials><user>1001</user></credentials>"), (Credentials{u"1001", u"", u""}));
  EXPECT_EQ(ReadCredentialsText(u"<credentials><server>vpn.example</server></credentials>"),
            (Credentials{u"", u"", u"vpn.example"}));
  EXPECT_EQ(ReadCredentialsText(u"<credentials/>"), Credentials{});
  // Only the root's own children count.
  EXPECT_EQ(ReadCredentialsText(u"<credentials><old><user>1001</user></old><pass>p</pass></credentials>"),
            (Credentials{u"", u"p", u""}));
}

TEST(CredentialsText, DocumentThatIsNotWellFormedGivesNothing) {
  for (const std::u16string_view text : {
           std::u16string_view(u""),
           std::u16string_view(u"1001"),
           std::u16string_view(u"<credentials><user>1001</user><pass>p</pass>"),
           std::u16string_view(u"<credentials><user>1001</user></credentials><credentials/>"),
           std::u16string_view(u"<credentials><user>1001</pass></credentials>"),
       }) {
    EXPECT_EQ(ReadCredentialsText(text), Credentials{}) << Ascii(text);
  }
}

TEST(CredentialsText, RootOfAnyNameIsRead) {
  EXPECT_EQ(ReadCredentialsText(u"<cache><user>1001</user><pass>p</pass><server>s</server></cache>"),
            (Credentials{u"1001", u"p", u"s"}));
}

TEST(CredentialsText, EachSearchGoesOnAfterTheElementFoundBefore) {
  // "pass" before "user" is passed over by the time "pass" is looked for.
  EXPECT_EQ(ReadCredentialsText(u"<c><pass>p</pass><user>u</user><server>s</server></c>"),
            (Credentials{u"u", u"", u"s"}));
  EXPECT_EQ(ReadCredentialsText(u"<c><server>s</server><user>u</user><pass>p</pass></c>"),
            (Credentials{u"u", u"p", u""}));
  // A missing "user" does not move the search: "pass" and "server" are
  // found from the start.
  EXPECT_EQ(ReadCredentialsText(u"<c><pass>p</pass><server>s</server></c>"), (Credentials{u"", u"p", u"s"}));
  // The first of two elements of a name is the one taken.
  EXPECT_EQ(ReadCredentialsText(u"<c><user>1</user><user>2</user><pass>p</pass></c>"),
            (Credentials{u"1", u"p", u""}));
}

}  // namespace
}  // namespace veltrona::app
