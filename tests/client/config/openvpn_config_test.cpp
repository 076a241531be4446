#include "client/config/openvpn_config.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_text.h"

namespace veltrona::config {
namespace {

constexpr std::u16string_view kFolder = u"C:\\Users\\me\\AppData\\Local\\Veltrona VPN";

std::u16string Cache(const std::u16string& ovpn) { return u"<config><servers/>" + ovpn + u"</config>"; }

OvpnPlan PlanKeys(const std::u16string& file, std::u16string_view folder = kFolder) {
  return PlanOpenVpnConfig(Cache(u"<ovpn><keys file=\"" + file + u"\"/></ovpn>"), folder);
}

using test_support::Ascii;

std::string WithRoutes(const std::string& text) { return text + std::string(kRouteText); }

TEST(ConfigTemplate, PlaceholdersReplacedOnceEach) {
  EXPECT_EQ(FillTemplate("remote %ADDRESS% 1194\nhttp-proxy %PROXY_IP% 8080\n", u"vpn1.example", u"10.0.0.9"),
            WithRoutes("remote vpn1.example 1194\nhttp-proxy 10.0.0.9 8080\n"));
  EXPECT_EQ(FillTemplate("%ADDRESS% %ADDRESS% %PROXY_IP%%PROXY_IP%", u"h", u"p"),
            WithRoutes("h %ADDRESS% p%PROXY_IP%"));
}

TEST(ConfigTemplate, NoPlaceholdersStillGetsTheSeventyOneRouteBytes) {
  EXPECT_EQ(kRouteText, "\nroute-method exe\nroute-delay 30\nroute-metric 512\nroute 0.0.0.0 0.0.0.0");
  EXPECT_EQ(FillTemplate("client\r\n# caf\xE9\r\n", u"h", u"p"), WithRoutes("client\r\n# caf\xE9\r\n"));
}

TEST(ConfigTemplate, EmptyProxyRemovesThePlaceholderAndPaddingIsDropped) {
  std::string body = "a %PROXY_IP% b %ADDRESS%";
  body.append(40, '\0');
  EXPECT_EQ(FillTemplate(body, u"h", u""), WithRoutes("a  b h"));
}

TEST(ConfigTemplate, TextsThatCouldAddDirectivesAreRefused) {
  EXPECT_EQ(FillTemplate("remote %ADDRESS%", u"h\nup calc.exe", u""), std::nullopt);
  EXPECT_EQ(FillTemplate("remote %ADDRESS%", u"h 1194", u""), std::nullopt);
  EXPECT_EQ(FillTemplate("remote %ADDRESS%", u"h", u"p\r\nscript-security 3"), std::nullopt);
  EXPECT_EQ(FillTemplate("remote %ADDRESS%", u"h\u00e9", u""), std::nullopt);  // no byte in every code page
  EXPECT_EQ(FillTemplate("remote %ADDRESS%", u"", u""), std::nullopt);
  EXPECT_TRUE(FillTemplate("", u"nl-ams_1.example", u"[2001:db8::1]:8080").has_value());
}

TEST(ConfigPlan, NoCacheBrokenCacheAndNoOvpn) {
  EXPECT_EQ(PlanOpenVpnConfig(u"", kFolder).status, OvpnPlanStatus::kCacheUnusable);
  EXPECT_EQ(PlanOpenVpnConfig(u"<config><ovpn>", kFolder).status, OvpnPlanStatus::kCacheUnusable);
  EXPECT_EQ(PlanOpenVpnConfig(Cache(u""), kFolder).status, OvpnPlanStatus::kNothingToDo);
}

TEST(ConfigPlan, FolderPathInKeysFileIsRequestedWholeAndSavedUnderItsLastPart) {
  const OvpnPlan plan = PlanOpenVpnConfig(
      Cache(u"<ovpn><keys file=\"/dl/keys/vk.zip\"/><template file=\"t/client.ovpn\"/></ovpn>") + u'\0', kFolder);
  ASSERT_EQ(plan.status, OvpnPlanStatus::kReady);
  EXPECT_EQ(plan.keys_request, u"/dl/keys/vk.zip");
  EXPECT_EQ(plan.archive_name, u"vk.zip");
  EXPECT_EQ(plan.archive_path, std::u16string(kFolder) + u"\\vk.zip");
  EXPECT_EQ(plan.template_request, u"t/client.ovpn");
  EXPECT_EQ(plan.config_path, std::u16string(kFolder) + u"\\Veltrona.ovpn");
  EXPECT_EQ(plan.keys_fallback_path, plan.config_path);
  EXPECT_EQ(PlanKeys(u"keys.zip").archive_name, u"keys.zip");
}

TEST(ConfigPlan, MissingOrEmptyFileSkipsItsStep) {
  const OvpnPlan plan = PlanOpenVpnConfig(Cache(u"<ovpn><keys file=\"\"/><template file=\"/t\"/></ovpn>"), kFolder);
  EXPECT_TRUE(plan.keys_request.empty());
  EXPECT_EQ(plan.template_request, u"/t");
  // The template is looked for after the keys only.
  const OvpnPlan late = PlanOpenVpnConfig(Cache(u"<ovpn><template file=\"/t\"/><keys file=\"/k.zip\"/></ovpn>"), kFolder);
  EXPECT_EQ(late.keys_request, u"/k.zip");
  EXPECT_TRUE(late.template_request.empty());
}

TEST(ConfigPlan, ArchiveNamesThatAreNotPlainFileNamesAreRefused) {
  for (const char16_t* file : {u"/keys/", u"..\\..\\evil.dll", u"/x/..", u"C:evil.zip", u"/x/k.zip:s",
                               u"/x/k.zip?v=2", u"/x/NUL.zip", u"/x/veltrona.OVPN", u"/a b.zip", u"/k&#10;.zip"}) {
    EXPECT_EQ(PlanKeys(file).status, OvpnPlanStatus::kRefused) << Ascii(file);
  }
}

TEST(ConfigPlan, PathsAtThe260UnitBoundary) {
  EXPECT_EQ(JoinDataPath(std::u16string(250, u'f'), u"12345678")->size(), 259u);
  EXPECT_EQ(JoinDataPath(std::u16string(250, u'f'), u"123456789"), std::nullopt);
  const std::u16string folder(240, u'f');
  EXPECT_EQ(PlanKeys(u"/" + std::u16string(18, u'k'), folder).status, OvpnPlanStatus::kReady);
  EXPECT_EQ(PlanKeys(u"/" + std::u16string(19, u'k'), folder).status, OvpnPlanStatus::kRefused);
  const std::u16string long_folder(259 - 14, u'f');  // room for "\Veltrona.ovpn" exactly
  EXPECT_EQ(PlanOpenVpnConfig(Cache(u"<ovpn/>"), long_folder).status, OvpnPlanStatus::kReady);
  EXPECT_EQ(PlanOpenVpnConfig(Cache(u"<ovpn/>"), long_folder + u"f").status, OvpnPlanStatus::kRefused);
  const std::u16string request = u"/" + std::u16string(258, u't');
  EXPECT_EQ(PlanOpenVpnConfig(Cache(u"<ovpn><template file=\"" + request + u"\"/></ovpn>"), kFolder).template_request,
            request);
  EXPECT_EQ(PlanOpenVpnConfig(Cache(u"<ovpn><template file=\"" + request + u"t\"/></ovpn>"), kFolder).status,
            OvpnPlanStatus::kRefused);
}

}  // namespace
}  // namespace veltrona::config
