// The registry side of the settings table: every read and write of a client
// setting goes through here, by its SettingId, so key names, hives and types
// are never spelt anywhere else. Keys are opened for one access and closed
// again; a read that fails leaves the caller's value as it was.
#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"

namespace veltrona::config {

// The largest value the client reads or writes. The server list cache is the
// biggest: any body the HTTP client accepts (8 MiB) decodes to at most as
// many UTF-16 units, which fit here with their terminator.
inline constexpr DWORD kMaxSettingBytes = (16u << 20) + sizeof(wchar_t);

// A REG_DWORD of exactly 4 bytes into `value`; false (and `value` untouched)
// when the key or value is missing, of another type or size.
[[nodiscard]] bool ReadDwordSetting(SettingId id, DWORD& value) noexcept;

// What the setting counts as: the stored DWORD, or the table's value for the
// missing case.
[[nodiscard]] DWORD DwordSetting(SettingId id) noexcept;

// A REG_SZ into `value`, terminators dropped; false and untouched otherwise.
[[nodiscard]] bool ReadStringSetting(SettingId id, std::wstring& value) noexcept;

// A REG_BINARY into `value`; false and untouched otherwise.
[[nodiscard]] bool ReadBinarySetting(SettingId id, std::vector<BYTE>& value) noexcept;

// True when the setting's value is there at all, whatever its type or size,
// so a reader that refused it can tell a foreign value from a missing one.
[[nodiscard]] bool SettingValueExists(SettingId id) noexcept;

// Writers refuse a setting of another type and one the client never writes
// (the installer's values, the older credentials layout). The key is created
// only for the client's own read-write settings; the others must exist.
[[nodiscard]] bool WriteDwordSetting(SettingId id, DWORD value) noexcept;
[[nodiscard]] bool WriteStringSetting(SettingId id, std::wstring_view value) noexcept;
[[nodiscard]] bool WriteBinarySetting(SettingId id, std::span<const BYTE> value) noexcept;

// Removes the key of a setting that is read once and then deleted.
[[nodiscard]] bool DeleteSettingKey(SettingId id) noexcept;

}  // namespace veltrona::config
