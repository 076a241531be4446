#include "tests/win_test_support/registry_values_win.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/unique_handle_win.h"

namespace veltrona::test_support {

bool SetValue(HKEY hive, const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  UniqueRegKey opened;
  LSTATUS status = ::RegCreateKeyExW(hive, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, opened.Put(), nullptr);
  if (status == ERROR_SUCCESS) {
    status = ::RegSetValueExW(opened.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
  }
  if (status != ERROR_SUCCESS) ADD_FAILURE() << "cannot write a registry value (" << status << ")";
  return status == ERROR_SUCCESS;
}

bool SetString(HKEY hive, const wchar_t* key, const wchar_t* name, const std::wstring& value) {
  return SetValue(hive, key, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool SetDword(HKEY hive, const wchar_t* key, const wchar_t* name, DWORD value) {
  return SetValue(hive, key, name, REG_DWORD, &value, sizeof value);
}

bool CreateKey(HKEY hive, const wchar_t* key) {
  UniqueRegKey created;
  const LSTATUS status =
      ::RegCreateKeyExW(hive, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.Put(), nullptr);
  if (status != ERROR_SUCCESS) ADD_FAILURE() << "cannot create a registry key (" << status << ")";
  return status == ERROR_SUCCESS;
}

void DeleteValue(HKEY hive, const wchar_t* key, const wchar_t* name) {
  UniqueRegKey opened;
  if (::RegOpenKeyExW(hive, key, 0, KEY_SET_VALUE, opened.Put()) == ERROR_SUCCESS) {
    ::RegDeleteValueW(opened.Get(), name);
  }
}

std::optional<std::wstring> ReadString(HKEY hive, const std::wstring& key, const wchar_t* name) {
  // REG_EXPAND_SZ as stored: the installer writes some values that way.
  constexpr DWORD kStrings = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  DWORD size = 0;
  if (::RegGetValueW(hive, key.c_str(), name, kStrings, nullptr, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegGetValueW(hive, key.c_str(), name, kStrings, nullptr, text.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(text.data());
}

std::optional<DWORD> ReadDword(HKEY hive, const std::wstring& key, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (::RegGetValueW(hive, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

bool KeyExists(HKEY hive, const std::wstring& key) {
  UniqueRegKey opened;
  const bool exists = ::RegOpenKeyExW(hive, key.c_str(), 0, KEY_QUERY_VALUE, opened.Put()) == ERROR_SUCCESS;
  // What a failed open leaves in the out-parameter is no key to close.
  if (!exists) (void)opened.Release();
  return exists;
}

ScopedUserProxy::ScopedUserProxy(const std::wstring& server) {
  SetString(HKEY_CURRENT_USER, kInternetSettings, L"ProxyOverride", L"<local>;127.0.0.1");
  SetString(HKEY_CURRENT_USER, kInternetSettings, L"ProxyServer", server);
  SetDword(HKEY_CURRENT_USER, kInternetSettings, L"ProxyEnable", 1);
}

ScopedUserProxy::~ScopedUserProxy() {
  DeleteValue(HKEY_CURRENT_USER, kInternetSettings, L"ProxyEnable");
  DeleteValue(HKEY_CURRENT_USER, kInternetSettings, L"ProxyServer");
  DeleteValue(HKEY_CURRENT_USER, kInternetSettings, L"ProxyOverride");
}

}  // namespace veltrona::test_support
