#include "client/app/credentials_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/test_text.h"

namespace veltrona::app {
namespace {

using namespace std::string_view_literals;
using test_support::Ascii;

// The three texts read from `text`, as "user|pass|server".
std::string Read(std::u16string_view text) {
  const Credentials read = ReadCredentialsText(text);
  return Ascii(read.vpn_id) + "|" + Ascii(read.activation_code) + "|" + Ascii(read.server);
}

TEST(CredentialsText, MarkupCharactersAreEscapedAndReadBackAsTyped) {
  const std::u16string text = CredentialsText({u"a<b&c>d", u"a<b&c>d", u"a<b&c>d"});
  EXPECT_EQ(Ascii(text),
            "<credentials><user>a&lt;b&amp;c&gt;d</user><pass>a&lt;b&amp;c&gt;d</pass>"
            "<server>a&lt;b&amp;c&gt;d</server></credentials>");
  EXPECT_EQ(Read(text), "a<b&c>d|a<b&c>d|a<b&c>d");
}

TEST(CredentialsText, TextOfTheEarlierUnescapedWriterStillLoads) {
  EXPECT_EQ(Read(u"<credentials><user>1001</user><pass>X7-99</pass><server>vpn.example</server></credentials>"),
            "1001|X7-99|vpn.example");
}

TEST(CredentialsText, RootOfAnyNameAndMissingElements) {
  EXPECT_EQ(Read(u"<cache><user>1001</user><pass>p</pass><server>s</server></cache>"), "1001|p|s");
  EXPECT_EQ(Read(u"<credentials><server>s</server></credentials>"), "||s");
  EXPECT_EQ(Read(u"<credentials/>"), "||");
  // Only the root's own children count.
  EXPECT_EQ(Read(u"<credentials><old><user>1001</user></old><pass>p</pass></credentials>"), "|p|");
}

TEST(CredentialsText, DocumentThatIsNotWellFormedGivesNothing) {
  // The last one is what the earlier writer made of a code holding "<".
  for (const std::u16string_view text : {u""sv, u"1001"sv, u"<credentials><user>1001</user>"sv,
                                         u"<credentials/><credentials/>"sv,
                                         u"<credentials><user>1</user><pass>a<b</pass></credentials>"sv}) {
    EXPECT_EQ(Read(text), "||") << Ascii(text);
  }
}

TEST(CredentialsText, EachSearchGoesOnAfterTheElementFoundBefore) {
  EXPECT_EQ(Read(u"<c><pass>p</pass><user>u</user><server>s</server></c>"), "u||s");
  EXPECT_EQ(Read(u"<c><server>s</server><user>u</user><pass>p</pass></c>"), "u|p|");
  // A missing "user" leaves the next search at the start.
  EXPECT_EQ(Read(u"<c><pass>p</pass><server>s</server></c>"), "|p|s");
}

}  // namespace
}  // namespace veltrona::app
