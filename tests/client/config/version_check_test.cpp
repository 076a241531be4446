#include "client/config/version_check.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrona::config {
namespace {

UpdateCheck Check(const std::string& application) {
  const std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config><servers/>" + application + "</config>";
  return EvaluateUpdateResponse(static_cast<std::uint32_t>(body.size()), body);
}

TEST(ConfigCompareVersion, AgainstTheClientsOwnVersion) {
  EXPECT_EQ(CompareVersion(kClientVersion), 0);
  EXPECT_EQ(CompareVersion(u"3.3"), 1);
  EXPECT_EQ(CompareVersion(u"4.0"), 1);
  EXPECT_EQ(CompareVersion(u"2.9"), -1);
  EXPECT_EQ(CompareVersion(u"3"), -2);
  EXPECT_EQ(CompareVersion(u"3.10"), 8);  // numbers, not text
  EXPECT_EQ(CompareVersion(u"3.2.9"), 0);
  EXPECT_EQ(CompareVersion(u"beta"), -3);
  EXPECT_EQ(CompareVersion(u"99999999999999999999.0"), 999999999 - 3);  // no overflow
  EXPECT_EQ(CompareVersion(u"3.99999999999999999999"), 999999999 - 2);
}

TEST(ConfigUpdateCheck, NewerEqualOlder) {
  const UpdateCheck newer = Check("<application version=\"3.3\" url=\"https://dl.example/v.exe\"/>");
  EXPECT_TRUE(newer.IsNewer());
  EXPECT_EQ(newer.version, u"3.3");
  EXPECT_EQ(newer.url, u"https://dl.example/v.exe");
  EXPECT_EQ(Check("<application version=\"3.2\" url=\"u\"/>").status, UpdateStatus::kUpToDate);
  EXPECT_EQ(Check("<application version=\"2.9\" url=\"u\"/>").status, UpdateStatus::kUpToDate);
}

TEST(ConfigUpdateCheck, NoApplicationOrNoDocumentIsSilent) {
  EXPECT_EQ(Check("").status, UpdateStatus::kNoAnnouncement);
  const std::string page = "<html><body><h1>404 Not Found</h1><hr></body></html>";
  EXPECT_EQ(EvaluateUpdateResponse(50, page).status, UpdateStatus::kNoAnnouncement);
}

TEST(ConfigUpdateCheck, FailedDownloadAsksForTheMessage) {
  EXPECT_EQ(EvaluateUpdateResponse(0, "").status, UpdateStatus::kDownloadFailed);
  EXPECT_FALSE(EvaluateUpdateResponse(0, "").IsNewer());
}

TEST(ConfigUpdateCheck, BodyIsUtf8AndItsZeroPaddingIgnored) {
  std::string body = "<c><application version=\"4.0\" url=\"https://dl.example/\xC3\xA9\"/></c>";
  const auto read = static_cast<std::uint32_t>(body.size());
  body.append(64, '\0');
  const UpdateCheck check = EvaluateUpdateResponse(read, body);
  EXPECT_TRUE(check.IsNewer());
  EXPECT_EQ(check.url, u"https://dl.example/\u00e9");
}

TEST(ConfigUpdateCheck, LongTextsAreCutTo259UnitsWithoutSplittingAPair) {
  const std::string url = "https://dl.example/" + std::string(400, 'u');
  const UpdateCheck check =
      Check("<application version=\"3.3" + std::string(300, '0') + "\" url=\"" + url + "\"/>");
  EXPECT_EQ(check.url, std::u16string(url.begin(), url.begin() + 259));
  EXPECT_EQ(check.version.size(), 259u);
  EXPECT_TRUE(check.IsNewer());
  EXPECT_EQ(Check("<application url=\"" + std::string(259, 'u') + "\"/>").url.size(), 259u);
  // 258 units, then a character outside the basic plane (two units).
  EXPECT_EQ(Check("<application url=\"" + std::string(258, 'u') + "\xF0\x9F\x98\x80\"/>").url,
            std::u16string(258, u'u'));
}

}  // namespace
}  // namespace veltrona::config
