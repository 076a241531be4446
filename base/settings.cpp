#include "base/settings.h"

#include <array>

namespace veltrona::config {

namespace {

constexpr std::u16string_view kMachineKey = u"Software\\VeltronaVPN";
constexpr std::u16string_view kUserKey = u"SOFTWARE\\VeltronaVPN";
constexpr std::u16string_view kInternetSettings =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr std::u16string_view kSavedProxyKey = u"SOFTWARE\\VeltronaVPN\\SavedProxy";

constexpr std::array<SettingDefinition, kSettingCount> kTable = {{
    {SettingId::kInstallPath, Hive::kLocalMachine, kMachineKey, u"Install Path", ValueType::kString,
     Access::kReadOnly, 0},
    // Missing means start in the tray only.
    {SettingId::kHideAtStartup, Hive::kLocalMachine, kMachineKey, u"Hide at startup", ValueType::kDword,
     Access::kReadOnly, 1},
    {SettingId::kWarningFlag, Hive::kLocalMachine, kMachineKey, u"Warning Flag", ValueType::kDword,
     Access::kReadOnly, 0},
    // Deployment values: missing means the built-in host (deployment.h).
    {SettingId::kConfigHost, Hive::kLocalMachine, kMachineKey, u"Config Host", ValueType::kString,
     Access::kReadOnly, 0},
    {SettingId::kBillingHost, Hive::kLocalMachine, kMachineKey, u"Billing Host", ValueType::kString,
     Access::kReadOnly, 0},
    {SettingId::kWebSite, Hive::kLocalMachine, kMachineKey, u"Web Site", ValueType::kString, Access::kReadOnly,
     0},
    {SettingId::kDontWarnMe, Hive::kCurrentUser, u"Software\\VeltronaVPN", u"Dont Warn Me", ValueType::kDword,
     Access::kWriteExistingKey, 0},
    {SettingId::kPixelguard, Hive::kCurrentUser, kUserKey, u"Pixelguard", ValueType::kDword, Access::kReadWrite,
     0},
    {SettingId::kClearHistory, Hive::kCurrentUser, kUserKey, u"ClearHistory", ValueType::kDword,
     Access::kReadWrite, 0},
    {SettingId::kPreserveIp, Hive::kCurrentUser, kUserKey, u"PreserveIP", ValueType::kDword, Access::kReadWrite,
     0},
    {SettingId::kConfigCache, Hive::kCurrentUser, u"SOFTWARE\\VeltronaVPN\\ConfigCache", u"", ValueType::kString,
     Access::kReadWrite, 0},
    {SettingId::kCredCache, Hive::kCurrentUser, u"Software\\VeltronaVPN\\CredCache", u"", ValueType::kBinary,
     Access::kReadWrite, 0},
    {SettingId::kCredCacheLogin, Hive::kCurrentUser, u"SOFTWARE\\VeltronaVPN\\CredCache\\Login", u"",
     ValueType::kString, Access::kReadAndDelete, 0},
    {SettingId::kCredCachePassword, Hive::kCurrentUser, u"SOFTWARE\\VeltronaVPN\\CredCache\\Passw", u"",
     ValueType::kString, Access::kReadAndDelete, 0},
    {SettingId::kCredCacheServer, Hive::kCurrentUser, u"SOFTWARE\\VeltronaVPN\\CredCache\\server", u"",
     ValueType::kString, Access::kReadAndDelete, 0},
    {SettingId::kProxyEnable, Hive::kCurrentUser, kInternetSettings, u"ProxyEnable", ValueType::kDword,
     Access::kSavedAndRestored, 0},
    {SettingId::kProxyServer, Hive::kCurrentUser, kInternetSettings, u"ProxyServer", ValueType::kString,
     Access::kSavedAndRestored, 0},
    {SettingId::kShellFoldersAppData, Hive::kCurrentUser,
     u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", u"AppData", ValueType::kString,
     Access::kReadOnly, 0},
    {SettingId::kDefaultBrowser, Hive::kCurrentUser, u"SOFTWARE\\Clients\\StartMenuInternet", u"",
     ValueType::kString, Access::kReadOnly, 0},
    // The user's own proxy settings while Pixelguard's replace them, so that
    // a client that dies while connected can put them back at its next start.
    {SettingId::kSavedProxyEnable, Hive::kCurrentUser, kSavedProxyKey, u"ProxyEnable", ValueType::kDword,
     Access::kKeptUntilRestored, 0},
    {SettingId::kSavedProxyServer, Hive::kCurrentUser, kSavedProxyKey, u"ProxyServer", ValueType::kString,
     Access::kKeptUntilRestored, 0},
}};

// The table is indexed by id; a row out of place would hand out the wrong key.
constexpr bool TableIsInIdOrder() {
  for (std::size_t i = 0; i < kTable.size(); ++i) {
    if (static_cast<std::size_t>(kTable[i].id) != i) return false;
  }
  return true;
}
static_assert(TableIsInIdOrder(), "settings table out of SettingId order");

}  // namespace

std::span<const SettingDefinition> AllSettings() { return kTable; }

const SettingDefinition& Setting(SettingId id) { return kTable[static_cast<std::size_t>(id)]; }

std::optional<std::uint32_t> DwordFromRegistryData(std::uint32_t registry_type,
                                                   std::span<const std::uint8_t> data) {
  if (registry_type != kRegistryDwordType || data.size() != 4) return std::nullopt;
  return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
         static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

std::uint32_t DwordSettingValue(SettingId id, std::optional<std::uint32_t> read) {
  return read.value_or(Setting(id).missing_dword);
}

}  // namespace veltrona::config
