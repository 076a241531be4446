#include "client/app/system_proxy_win.h"

#include <wininet.h>

#include <new>

#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/config/settings_store_win.h"

namespace veltrona::app {

using config::SettingId;

void ReadSystemProxy(DWORD& enable, std::wstring& server) noexcept {
  enable = 0;
  server.clear();
  DWORD read = 0;
  if (config::ReadDwordSetting(SettingId::kProxyEnable, read)) enable = read;
  std::wstring text;
  if (config::ReadStringSetting(SettingId::kProxyServer, text)) server.swap(text);
}

LSTATUS WriteSystemProxy(DWORD enable, std::wstring_view server) noexcept {
  try {
    const config::SettingDefinition& enable_setting = config::Setting(SettingId::kProxyEnable);
    const config::SettingDefinition& server_setting = config::Setting(SettingId::kProxyServer);
    // Both values live in the one Internet Settings key: open it once.
    const std::wstring key_name = ToWide(enable_setting.key);
    UniqueRegKey key;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, key_name.c_str(), 0, KEY_SET_VALUE, key.Put());
    if (status != ERROR_SUCCESS) {
      (void)key.Release();
      return status;
    }
    const std::wstring enable_name = ToWide(enable_setting.value);
    const std::wstring server_name = ToWide(server_setting.value);
    const std::wstring text(server);
    ::RegSetValueExW(key.Get(), enable_name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                     sizeof enable);
    ::RegSetValueExW(key.Get(), server_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    key.Reset();
    // Running browsers pick the new settings up only when told.
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

ProxySettings RegistrySystemProxyStore::Read() {
  DWORD enable = 0;
  std::wstring server;
  ReadSystemProxy(enable, server);
  return ProxySettings{enable, ToU16(server)};
}

bool RegistrySystemProxyStore::Write(const ProxySettings& settings) {
  return WriteSystemProxy(settings.enable, ToWide(settings.server)) == ERROR_SUCCESS;
}

bool RegistrySystemProxyStore::KeepSavedCopy(const ProxySettings& settings) {
  // The enable value is written last: a copy counts only once it is whole.
  return config::WriteStringSetting(SettingId::kSavedProxyServer, ToWide(settings.server)) &&
         config::WriteDwordSetting(SettingId::kSavedProxyEnable, settings.enable);
}

std::optional<ProxySettings> RegistrySystemProxyStore::SavedCopy() {
  DWORD enable = 0;
  if (!config::ReadDwordSetting(SettingId::kSavedProxyEnable, enable)) return std::nullopt;
  std::wstring server;
  (void)config::ReadStringSetting(SettingId::kSavedProxyServer, server);
  return ProxySettings{enable, ToU16(server)};
}

void RegistrySystemProxyStore::DropSavedCopy() {
  // Both values live in the one key.
  (void)config::DeleteSettingKey(SettingId::kSavedProxyEnable);
}

}  // namespace veltrona::app
