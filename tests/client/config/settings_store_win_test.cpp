#include "client/config/settings_store_win.h"

#include "client/config/http_client_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/registry_sandbox_win.h"
#include "tests/win_test_support/registry_values_win.h"

namespace veltrona::config {
namespace {

using test_support::KeyExists;
using test_support::SetValue;

class ConfigSettingsStore : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sandbox_.Ready()); }
  test_support::RegistrySandbox sandbox_{L"settings"};
};

TEST_F(ConfigSettingsStore, MissingValuesReadAsTheirDefaultsAndLeaveTheOutValue) {
  DWORD value = 77;
  EXPECT_FALSE(ReadDwordSetting(SettingId::kPixelguard, value));
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(DwordSetting(SettingId::kPixelguard), 0u);
  EXPECT_EQ(DwordSetting(SettingId::kWarningFlag), 0u);
  // Missing means start in the tray only.
  EXPECT_EQ(DwordSetting(SettingId::kHideAtStartup), 1u);
  std::wstring text = L"kept";
  EXPECT_FALSE(ReadStringSetting(SettingId::kConfigCache, text));
  EXPECT_EQ(text, L"kept");
}

TEST_F(ConfigSettingsStore, CheckBoxWriteCreatesTheUserKeyAndStoresADword) {
  ASSERT_TRUE(WriteDwordSetting(SettingId::kClearHistory, 1));
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  ASSERT_EQ(::RegGetValueW(sandbox_.User(), L"SOFTWARE\\VeltronaVPN", L"ClearHistory", RRF_RT_ANY, &type, &data,
                           &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(data, 1u);
  EXPECT_EQ(DwordSetting(SettingId::kClearHistory), 1u);
}

TEST_F(ConfigSettingsStore, DwordOfAnotherTypeOrSizeReadsAsMissing) {
  const DWORD two = 2;
  SetValue(sandbox_.User(), L"SOFTWARE\\VeltronaVPN", L"Pixelguard", REG_DWORD, &two, sizeof two);
  EXPECT_EQ(DwordSetting(SettingId::kPixelguard), 2u);
  EXPECT_TRUE(IsSettingSet(DwordSetting(SettingId::kPixelguard)));

  const wchar_t text[] = L"1";
  SetValue(sandbox_.User(), L"SOFTWARE\\VeltronaVPN", L"PreserveIP", REG_SZ, text, sizeof text);
  DWORD value = 9;
  EXPECT_FALSE(ReadDwordSetting(SettingId::kPreserveIp, value));
  EXPECT_EQ(value, 9u);

  const unsigned long long wide = 1;
  SetValue(sandbox_.Machine(), L"Software\\VeltronaVPN", L"Hide at startup", REG_QWORD, &wide, sizeof wide);
  EXPECT_EQ(DwordSetting(SettingId::kHideAtStartup), 1u);
  const DWORD zero = 0;
  SetValue(sandbox_.Machine(), L"Software\\VeltronaVPN", L"Hide at startup", REG_DWORD, &zero, sizeof zero);
  EXPECT_EQ(DwordSetting(SettingId::kHideAtStartup), 0u);
}

TEST_F(ConfigSettingsStore, InstallerValuesAreNeverWritten) {
  EXPECT_FALSE(WriteDwordSetting(SettingId::kWarningFlag, 1));
  EXPECT_FALSE(WriteStringSetting(SettingId::kConfigHost, L"127.0.0.1:18080"));
  EXPECT_FALSE(KeyExists(sandbox_.Machine(), L"Software\\VeltronaVPN"));
}

TEST_F(ConfigSettingsStore, DontWarnMeNeedsAnExistingKey) {
  EXPECT_FALSE(WriteDwordSetting(SettingId::kDontWarnMe, 1));
  EXPECT_FALSE(KeyExists(sandbox_.User(), L"Software\\VeltronaVPN"));
  ASSERT_TRUE(WriteDwordSetting(SettingId::kPixelguard, 0));
  EXPECT_TRUE(WriteDwordSetting(SettingId::kDontWarnMe, 1));
  EXPECT_EQ(DwordSetting(SettingId::kDontWarnMe), 1u);
}

TEST_F(ConfigSettingsStore, WrongTypeIsRefusedByTheWriters) {
  EXPECT_FALSE(WriteStringSetting(SettingId::kPixelguard, L"1"));
  EXPECT_FALSE(WriteDwordSetting(SettingId::kConfigCache, 1));
  EXPECT_FALSE(KeyExists(sandbox_.User(), L"SOFTWARE\\VeltronaVPN"));
}

TEST_F(ConfigSettingsStore, CacheTextRoundTripsWithItsTerminatorStored) {
  const std::wstring document = L"<config><servers><host hostname=\"a\"/></servers></config>";
  ASSERT_TRUE(WriteStringSetting(SettingId::kConfigCache, document));
  DWORD size = 0;
  ASSERT_EQ(::RegGetValueW(sandbox_.User(), L"SOFTWARE\\VeltronaVPN\\ConfigCache", nullptr, RRF_RT_REG_SZ, nullptr,
                           nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, (document.size() + 1) * sizeof(wchar_t));
  std::wstring read;
  ASSERT_TRUE(ReadStringSetting(SettingId::kConfigCache, read));
  EXPECT_EQ(read, document);
}

TEST_F(ConfigSettingsStore, BinaryCredentialsRoundTripAndOldLayoutIsDeleted) {
  const std::vector<BYTE> blob = {0x01, 0x00, 0xFF, 0x7F};
  ASSERT_TRUE(WriteBinarySetting(SettingId::kCredCache, blob));
  std::vector<BYTE> read;
  ASSERT_TRUE(ReadBinarySetting(SettingId::kCredCache, read));
  EXPECT_EQ(read, blob);

  const wchar_t login[] = L"1001";
  SetValue(sandbox_.User(), L"SOFTWARE\\VeltronaVPN\\CredCache\\Login", nullptr, REG_SZ, login, sizeof login);
  std::wstring text;
  ASSERT_TRUE(ReadStringSetting(SettingId::kCredCacheLogin, text));
  EXPECT_EQ(text, L"1001");
  EXPECT_FALSE(WriteStringSetting(SettingId::kCredCacheLogin, L"x"));
  EXPECT_TRUE(DeleteSettingKey(SettingId::kCredCacheLogin));
  EXPECT_FALSE(KeyExists(sandbox_.User(), L"SOFTWARE\\VeltronaVPN\\CredCache\\Login"));
  EXPECT_FALSE(DeleteSettingKey(SettingId::kCredCache));
}

TEST_F(ConfigSettingsStore, DeploymentHostsComeFromTheMachineKey) {
  const DeploymentValues defaults = ReadDeploymentValues();
  EXPECT_EQ(defaults.config_host, (HostAddress{std::u16string(kDefaultConfigHost), kConfigHostDefaultPort}));
  EXPECT_EQ(defaults.billing_host, (HostAddress{std::u16string(kDefaultBillingHost), kBillingHostDefaultPort}));

  const wchar_t config_host[] = L"127.0.0.1:18089";
  SetValue(sandbox_.Machine(), L"Software\\VeltronaVPN", L"Config Host", REG_SZ, config_host, sizeof config_host);
  const wchar_t billing_host[] = L"localhost";
  SetValue(sandbox_.Machine(), L"Software\\VeltronaVPN", L"Billing Host", REG_SZ, billing_host, sizeof billing_host);
  const DeploymentValues overridden = ReadDeploymentValues();
  EXPECT_EQ(overridden.config_host, (HostAddress{u"127.0.0.1", 18089}));
  EXPECT_EQ(overridden.billing_host, (HostAddress{u"localhost", 443}));

  const wchar_t typo[] = L"127.0.0.1:80a";
  SetValue(sandbox_.Machine(), L"Software\\VeltronaVPN", L"Config Host", REG_SZ, typo, sizeof typo);
  EXPECT_EQ(ReadDeploymentValues().config_host,
            (HostAddress{std::u16string(kDefaultConfigHost), kConfigHostDefaultPort}));
}

}  // namespace
}  // namespace veltrona::config
