// Every registry key and value the programs read or write, in one table. The
// Windows reader and writer look a setting up here and never spell a key or
// value name of their own, so a name, hive, type or default exists once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace veltrona::config {

enum class Hive { kLocalMachine, kCurrentUser };

enum class ValueType { kString, kDword, kBinary };

// Who may change a value: the installer's values are never written by the
// client, so it runs without administrator rights.
enum class Access {
  kReadOnly,         // read by the client, written by the installer or the system
  kReadWrite,        // read and written by the client; the key is created on write
  kWriteExistingKey, // written by the client into a key it opens, never creates
  kReadAndDelete,    // an older layout: read once, then deleted
  kKeptUntilRestored, // the client's copy of a system value it switched; deleted once put back
  kSavedAndRestored, // a system value the client switches and puts back
};

enum class SettingId {
  kInstallPath,
  kHideAtStartup,
  kWarningFlag,
  kConfigHost,
  kBillingHost,
  kWebSite,
  kDontWarnMe,
  kPixelguard,
  kClearHistory,
  kPreserveIp,
  kConfigCache,
  kCredCache,
  kCredCacheLogin,
  kCredCachePassword,
  kCredCacheServer,
  kProxyEnable,
  kProxyServer,
  kShellFoldersAppData,
  kDefaultBrowser,
  kSavedProxyEnable,
  kSavedProxyServer,
};

inline constexpr std::size_t kSettingCount = 21;

struct SettingDefinition {
  SettingId id;
  Hive hive;
  std::u16string_view key;
  std::u16string_view value;  // empty: the key's default (unnamed) value
  ValueType type;
  Access access;
  // What a DWORD reads as when it is missing, of another type or size, or the
  // key cannot be opened. Unused for other types, where missing means empty.
  std::uint32_t missing_dword;
};

// The whole table, in SettingId order.
std::span<const SettingDefinition> AllSettings();

const SettingDefinition& Setting(SettingId id);

// A stored value as the registry returned it. REG_DWORD is type 4 there.
inline constexpr std::uint32_t kRegistryDwordType = 4;

// The DWORD held by raw registry data: only a REG_DWORD of exactly 4 bytes
// counts; anything else is unreadable.
[[nodiscard]] std::optional<std::uint32_t> DwordFromRegistryData(std::uint32_t registry_type,
                                                                 std::span<const std::uint8_t> data);

// The value a DWORD setting has: what was read, or the table's value for the
// missing case when nothing could be read.
std::uint32_t DwordSettingValue(SettingId id, std::optional<std::uint32_t> read);

// Check boxes are ticked by any non-zero value, so a value written by hand
// (2, 0xFFFFFFFF) still counts as set.
constexpr bool IsSettingSet(std::uint32_t value) { return value != 0; }

// The only values the client itself writes.
constexpr std::uint32_t CheckBoxSettingValue(bool checked) { return checked ? 1u : 0u; }

// "PreserveIP" locks the server and Pixelguard boxes only at exactly 1; any
// other non-zero value ticks the box without locking them.
constexpr bool PreserveIpLocksServerChoice(std::uint32_t value) { return value == 1; }

// "Hide at startup" is consulted only for a start from the system's start-up
// list; a start by hand always shows the window.
constexpr bool StartsHidden(bool system_startup, std::uint32_t hide_at_startup) {
  return system_startup && hide_at_startup != 0;
}

}  // namespace veltrona::config
