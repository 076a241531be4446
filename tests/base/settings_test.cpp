#include "base/settings.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <set>
#include <string>

#include "client/config/deployment.h"
#include "tests/test_text.h"

namespace veltrona::config {
namespace {

using test_support::Ascii;

TEST(ConfigSettings, NoTwoRowsNameTheSameValue) {
  std::set<std::string> seen;
  for (const SettingDefinition& s : AllSettings()) {
    std::string id = (s.hive == Hive::kLocalMachine ? "HKLM\\" : "HKCU\\") + Ascii(s.key) + "|" + Ascii(s.value);
    for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));  // keys ignore case
    EXPECT_TRUE(seen.insert(id).second) << id;
  }
  EXPECT_EQ(seen.size(), kSettingCount);
}

TEST(ConfigSettings, MissingDwordsTakeTheTableDefault) {
  for (SettingId id : {SettingId::kPixelguard, SettingId::kClearHistory, SettingId::kPreserveIp,
                       SettingId::kWarningFlag, SettingId::kDontWarnMe}) {
    EXPECT_EQ(DwordSettingValue(id, std::nullopt), 0u) << Ascii(Setting(id).value);
  }
  // Missing "Hide at startup" starts in the tray, but only for a system start.
  EXPECT_TRUE(StartsHidden(true, DwordSettingValue(SettingId::kHideAtStartup, std::nullopt)));
  EXPECT_FALSE(StartsHidden(false, 1));
  EXPECT_FALSE(StartsHidden(true, DwordSettingValue(SettingId::kHideAtStartup, 0u)));
  EXPECT_EQ(DwordSettingValue(SettingId::kPixelguard, 2u), 2u);
}

TEST(ConfigSettings, OnlyAFourByteDwordIsReadable) {
  const std::array<std::uint8_t, 4> value = {0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(DwordFromRegistryData(kRegistryDwordType, value), 0x12345678u);
  EXPECT_EQ(DwordFromRegistryData(1, value), std::nullopt);  // REG_SZ
  EXPECT_EQ(DwordFromRegistryData(kRegistryDwordType, std::span(value).first(3)), std::nullopt);
}

TEST(ConfigSettings, AnyNonZeroIsSetButPreserveIpLocksOnlyAtOne) {
  EXPECT_FALSE(IsSettingSet(0));
  EXPECT_TRUE(IsSettingSet(2));
  EXPECT_TRUE(IsSettingSet(0xFFFFFFFFu));
  EXPECT_TRUE(PreserveIpLocksServerChoice(1));
  EXPECT_FALSE(PreserveIpLocksServerChoice(2));
  EXPECT_FALSE(PreserveIpLocksServerChoice(0));
  EXPECT_EQ(CheckBoxSettingValue(true), 1u);
  EXPECT_EQ(CheckBoxSettingValue(false), 0u);
}

TEST(ConfigSettings, MachineValuesAreNeverWrittenByTheClient) {
  for (const SettingDefinition& s : AllSettings()) {
    if (s.hive == Hive::kLocalMachine) {
      EXPECT_EQ(s.access, Access::kReadOnly) << Ascii(s.value);
    }
  }
}

TEST(ConfigDeployment, HostValuesWithAndWithoutPort) {
  EXPECT_EQ(ParseHostValue(u"cfg.example.net", 80), (HostAddress{u"cfg.example.net", 80}));
  EXPECT_EQ(ParseHostValue(u" 127.0.0.1:8080\t", 80), (HostAddress{u"127.0.0.1", 8080}));
  EXPECT_EQ(ParseHostValue(u"[::1]:8443", 443), (HostAddress{u"::1", 8443}));
  EXPECT_EQ(ParseHostValue(u"[::1]", 443), (HostAddress{u"::1", 443}));
  for (const char16_t* bad : {u"", u":80", u"host:", u"host:0", u"host:65536", u"host:8o", u"::1", u"[::1",
                              u"[::1]x", u"[host]:80", u"ho st", u"http://host", u"user@host", u"-host"}) {
    EXPECT_EQ(ParseHostValue(bad, 80), std::nullopt) << Ascii(bad);
  }
}

TEST(ConfigDeployment, OverridesReplaceBuiltInValuesUnlessMalformed) {
  const DeploymentValues built_in = ResolveDeployment({});
  EXPECT_EQ(built_in.config_host, (HostAddress{std::u16string(kDefaultConfigHost), 80}));
  EXPECT_EQ(built_in.billing_host, (HostAddress{std::u16string(kDefaultBillingHost), 443}));
  EXPECT_EQ(built_in.web_site, kDefaultWebSite);

  DeploymentOverrides overrides{u"127.0.0.1:8080", u"localhost:99999", u"http://127.0.0.1:8080/a?x=1"};
  const DeploymentValues values = ResolveDeployment(overrides);
  EXPECT_EQ(values.config_host, (HostAddress{u"127.0.0.1", 8080}));
  EXPECT_EQ(values.billing_host, built_in.billing_host);
  EXPECT_EQ(values.web_site, u"http://127.0.0.1:8080/a?x=1");
}

TEST(ConfigDeployment, AccountPageIsOnTheBillingHostOverTls) {
  EXPECT_EQ(AccountPageAddress(ResolveDeployment({}).billing_host),
            u"https://api.veltrona.example/clientarea.php?action=products");
  EXPECT_EQ(AccountPageAddress(HostAddress{u"127.0.0.1", 8443}),
            u"https://127.0.0.1:8443/clientarea.php?action=products");
  EXPECT_EQ(AccountPageAddress(HostAddress{u"::1", 443}), u"https://[::1]/clientarea.php?action=products");
  // Whatever the host value, the page is safe to hand to cmd.
  EXPECT_TRUE(IsAcceptableWebAddress(AccountPageAddress(HostAddress{u"::1", 65535})));
}

TEST(ConfigDeployment, WebAddressesThatCmdWouldReadAsCommandsAreRefused) {
  for (const char16_t* bad : {u"https://a.example/?a=1&b=2", u"https://a.example/|x", u"https://a.example/^",
                              u"https://a.example/%PATH%", u"https://a.example/ x", u"https://a.example/\"",
                              u"file:///c:/windows", u"https://"}) {
    EXPECT_FALSE(IsAcceptableWebAddress(bad)) << Ascii(bad);
  }
  std::u16string address = u"https://a.example/";
  address.resize(kMaxWebAddressChars, u'x');
  EXPECT_TRUE(IsAcceptableWebAddress(address));
  EXPECT_FALSE(IsAcceptableWebAddress(address + u"x"));
}

}  // namespace
}  // namespace veltrona::config
