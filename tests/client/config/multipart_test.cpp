#include "client/config/multipart.h"

#include <gtest/gtest.h>

#include <string>

#include "client/config/http_request.h"

namespace veltrona::config {
namespace {

TEST(ConfigMultipart, FourFieldReportHasExactlyTheseBytes) {
  std::string body = StartMultipartBody();
  AppendFormField(body, "email", "user@example.com");
  AppendFormField(body, "description", "It drops.\r\nEvery hour.");
  AppendFormField(body, "diagnostics", "");
  EXPECT_EQ(&FinishMultipartBody(AppendFormField(body, "logs", std::string("a\0b", 3))), &body);
  const std::string boundary = "-----------------------------7d434218508bc";  // "--" + 27 hyphens + tail
  const std::string expected = boundary +
      "\r\nContent-Disposition: form-data; name=\"email\"\r\n\r\nuser@example.com\r\n" + boundary +
      "\r\nContent-Disposition: form-data; name=\"description\"\r\n\r\nIt drops.\r\nEvery hour.\r\n" + boundary +
      "\r\nContent-Disposition: form-data; name=\"diagnostics\"\r\n\r\n\r\n" + boundary +
      "\r\nContent-Disposition: form-data; name=\"logs\"\r\n\r\n" + std::string("a\0b", 3) + "\r\n" + boundary +
      "--\r\n";
  EXPECT_EQ(body, expected);
  EXPECT_EQ(MultipartHeaders(), "Expect: 100-continue\r\nContent-Type: multipart/form-data; boundary=" +
                                    boundary.substr(2));
}

TEST(ConfigMultipart, FieldsThatWouldBreakTheFramingAreFlagged) {
  const std::string delimiter = "--" + std::string(kMultipartBoundary);
  EXPECT_TRUE(FormFieldKeepsFraming("logs", "text\r\n--another boundary"));
  EXPECT_FALSE(FormFieldKeepsFraming("logs", "x\r\n" + delimiter + "--\r\n"));
  EXPECT_FALSE(FormFieldKeepsFraming("logs", delimiter));
  EXPECT_FALSE(FormFieldKeepsFraming("a\"b", "v"));
  EXPECT_FALSE(FormFieldKeepsFraming("a\r\nb", "v"));
}

TEST(ConfigHttp, ObjectNameGetsALeadingSlashOnlyWhenMissing) {
  EXPECT_EQ(BuildObjectName(u"servers.win.xml"), u"/servers.win.xml");
  EXPECT_EQ(BuildObjectName(u"/servers.win.xml?v=3.2"), u"/servers.win.xml?v=3.2");
}

TEST(ConfigHttp, ContentLengthIsBoundedBeforeAnyAllocation) {
  EXPECT_EQ(ExpectBody(u"12abc").length, 12u);
  EXPECT_EQ(ExpectBody(u"abc").length, 0u);
  EXPECT_FALSE(ExpectBody(std::nullopt).length.has_value());  // read to the end
  EXPECT_EQ(ExpectBody(u"8388608").length, kMaxBodyBytes);
  EXPECT_TRUE(ExpectBody(u"8388609").refused);
  EXPECT_TRUE(ExpectBody(u"99999999999999999999999999999999").refused);  // would wrap
}

TEST(ConfigHttp, RequestPathsAreOneTokenOfPrintableAscii) {
  EXPECT_TRUE(IsRequestPathText(u"/files/keys.zip?v=1"));
  for (const char16_t* bad : {u"", u"/a b", u"/a\r\nHost: x", u"/caf\u00e9"}) {
    EXPECT_FALSE(IsRequestPathText(bad));
  }
  EXPECT_TRUE(IsRequestPathText(std::u16string(259, u'a')));
  EXPECT_FALSE(IsRequestPathText(std::u16string(260, u'a')));
}

}  // namespace
}  // namespace veltrona::config
