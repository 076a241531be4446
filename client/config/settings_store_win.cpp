#include "client/config/settings_store_win.h"

#include <new>

#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/config/body_text.h"
#include "client/config/http_request.h"

namespace veltrona::config {

static_assert(kMaxSettingBytes >= 2 * kMaxBodyBytes + sizeof(wchar_t),
              "a server list the HTTP client accepts must fit the cache");

namespace {

HKEY HiveKey(Hive hive) noexcept { return hive == Hive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::wstring KeyName(const SettingDefinition& setting) { return ToWide(setting.key); }
std::wstring ValueName(const SettingDefinition& setting) { return ToWide(setting.value); }

UniqueRegKey OpenForQuery(const SettingDefinition& setting) {
  UniqueRegKey key;
  if (::RegOpenKeyExW(HiveKey(setting.hive), KeyName(setting).c_str(), 0, KEY_QUERY_VALUE, key.Put()) !=
      ERROR_SUCCESS) {
    key.Release();
  }
  return key;
}

// Raw data of one value of the expected type, at most kMaxSettingBytes.
bool QueryValue(const SettingDefinition& setting, DWORD expected_type, std::vector<BYTE>& data) {
  const UniqueRegKey key = OpenForQuery(setting);
  if (!key) return false;
  const std::wstring value_name = ValueName(setting);
  // The value may grow between asking its size and reading it.
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), value_name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return false;
    }
    if (type != expected_type || size > kMaxSettingBytes) return false;
    std::vector<BYTE> buffer(size);
    DWORD read = size;
    const LSTATUS status =
        ::RegQueryValueExW(key.Get(), value_name.c_str(), nullptr, &type, buffer.empty() ? nullptr : buffer.data(),
                           &read);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS || type != expected_type || read > size) return false;
    buffer.resize(read);
    data = std::move(buffer);
    return true;
  }
  return false;
}

bool ClientWrites(const SettingDefinition& setting) {
  return setting.access == Access::kReadWrite || setting.access == Access::kWriteExistingKey ||
         setting.access == Access::kSavedAndRestored || setting.access == Access::kKeptUntilRestored;
}

bool SetValue(const SettingDefinition& setting, DWORD type, const BYTE* data, DWORD size) {
  if (!ClientWrites(setting)) return false;
  UniqueRegKey key;
  const std::wstring key_name = KeyName(setting);
  LSTATUS status = ERROR_SUCCESS;
  if (setting.access == Access::kReadWrite || setting.access == Access::kKeptUntilRestored) {
    status = ::RegCreateKeyExW(HiveKey(setting.hive), key_name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_SET_VALUE, nullptr, key.Put(), nullptr);
  } else {
    status = ::RegOpenKeyExW(HiveKey(setting.hive), key_name.c_str(), 0, KEY_SET_VALUE, key.Put());
  }
  if (status != ERROR_SUCCESS) {
    key.Release();
    return false;
  }
  return ::RegSetValueExW(key.Get(), ValueName(setting).c_str(), 0, type, data, size) == ERROR_SUCCESS;
}

}  // namespace

bool ReadDwordSetting(SettingId id, DWORD& value) noexcept {
  const SettingDefinition& setting = Setting(id);
  if (setting.type != ValueType::kDword) return false;
  const UniqueRegKey key = OpenForQuery(setting);
  if (!key) return false;
  try {
    BYTE data[4] = {};
    DWORD type = 0;
    DWORD size = sizeof data;
    if (::RegQueryValueExW(key.Get(), ValueName(setting).c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS) {
      return false;
    }
    const auto read = DwordFromRegistryData(type, std::span<const std::uint8_t>(data, size));
    if (!read) return false;
    value = *read;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

DWORD DwordSetting(SettingId id) noexcept {
  DWORD value = 0;
  if (ReadDwordSetting(id, value)) return DwordSettingValue(id, value);
  return DwordSettingValue(id, std::nullopt);
}

bool ReadStringSetting(SettingId id, std::wstring& value) noexcept {
  const SettingDefinition& setting = Setting(id);
  if (setting.type != ValueType::kString) return false;
  try {
    std::vector<BYTE> data;
    if (!QueryValue(setting, REG_SZ, data)) return false;
    std::u16string text(data.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    value = ToWide(WithoutTrailingNuls(text));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool ReadBinarySetting(SettingId id, std::vector<BYTE>& value) noexcept {
  const SettingDefinition& setting = Setting(id);
  if (setting.type != ValueType::kBinary) return false;
  try {
    return QueryValue(setting, REG_BINARY, value);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool SettingValueExists(SettingId id) noexcept {
  try {
    const SettingDefinition& setting = Setting(id);
    const UniqueRegKey key = OpenForQuery(setting);
    if (!key) return false;
    return ::RegQueryValueExW(key.Get(), ValueName(setting).c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool WriteDwordSetting(SettingId id, DWORD value) noexcept {
  const SettingDefinition& setting = Setting(id);
  if (setting.type != ValueType::kDword) return false;
  try {
    return SetValue(setting, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool WriteStringSetting(SettingId id, std::wstring_view value) noexcept {
  const SettingDefinition& setting = Setting(id);
  if (setting.type != ValueType::kString || value.size() >= kMaxSettingBytes / sizeof(wchar_t)) return false;
  try {
    // Stored with its terminator, as every reader of REG_SZ expects.
    const std::wstring text(value);
    return SetValue(setting, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool WriteBinarySetting(SettingId id, std::span<const BYTE> value) noexcept {
  const SettingDefinition& setting = Setting(id);
  if (setting.type != ValueType::kBinary || value.size() > kMaxSettingBytes) return false;
  try {
    return SetValue(setting, REG_BINARY, value.data(), static_cast<DWORD>(value.size()));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool DeleteSettingKey(SettingId id) noexcept {
  const SettingDefinition& setting = Setting(id);
  if (setting.access != Access::kReadAndDelete && setting.access != Access::kKeptUntilRestored) return false;
  try {
    return ::RegDeleteKeyW(HiveKey(setting.hive), KeyName(setting).c_str()) == ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace veltrona::config
