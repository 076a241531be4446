#include "client/app/credentials_cache_win.h"

#include <wincrypt.h>

#include <new>
#include <span>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/app/credentials_text.h"
#include "client/config/server_list_win.h"
#include "client/config/settings_store_win.h"
#include "client/resources/resource.h"

namespace veltrona::app {

using config::SettingId;

namespace {

// A text ends at its first NUL, as it does in the window's fields.
std::u16string_view UpToNul(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }
std::wstring_view UpToNul(std::wstring_view text) { return text.substr(0, text.find(L'\0')); }

std::wstring Capped(std::u16string_view text) { return ToWide(text.substr(0, kMaxCredentialLength)); }

// UTF-16LE bytes as text, up to the first NUL; an odd last byte is dropped.
std::u16string TextOfBytes(const BYTE* bytes, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  text.resize(UpToNul(text).size());
  return text;
}

// The protected text, or false when this user cannot open `blob`.
bool Unprotect(std::vector<BYTE>& blob, std::u16string& text) {
  DATA_BLOB in{static_cast<DWORD>(blob.size()), blob.data()};
  DATA_BLOB out{};
  if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
  const UniqueLocalMemory owned(out.pbData);
  text = TextOfBytes(out.pbData, out.cbData);
  return true;
}

std::wstring ReadOldText(SettingId id) {
  std::wstring text;
  if (!config::ReadStringSetting(id, text)) return {};
  return Capped(UpToNul(ToU16(text)));
}

// The older layout kept the three texts unprotected in subkeys; it is
// converted once, and written even when empty so the next start finds the
// current value.
void MigrateOldLayout(std::wstring& vpn_id, std::wstring& activation_code, std::wstring& server) {
  vpn_id = ReadOldText(SettingId::kCredCacheLogin);
  activation_code = ReadOldText(SettingId::kCredCachePassword);
  server = ReadOldText(SettingId::kCredCacheServer);
  // The old texts go only once the new value holds them.
  if (!SaveCredentials(vpn_id, activation_code, server)) return;
  (void)config::DeleteSettingKey(SettingId::kCredCacheLogin);
  (void)config::DeleteSettingKey(SettingId::kCredCachePassword);
  (void)config::DeleteSettingKey(SettingId::kCredCacheServer);
}

void LoadOrThrow(std::wstring& vpn_id, std::wstring& activation_code, std::wstring& server) {
  std::vector<BYTE> blob;
  if (!config::ReadBinarySetting(SettingId::kCredCache, blob)) {
    // A value of another type is no blob of ours, but it is not missing
    // either: like one that cannot be unprotected, it stays as it is.
    if (config::SettingValueExists(SettingId::kCredCache)) return;
    MigrateOldLayout(vpn_id, activation_code, server);
    return;
  }
  std::u16string text;
  if (!Unprotect(blob, text)) return;
  const Credentials credentials = ReadCredentialsText(text);
  vpn_id = Capped(credentials.vpn_id);
  activation_code = Capped(credentials.activation_code);
  server = Capped(credentials.server);
}

}  // namespace

bool SaveCredentials(std::wstring_view vpn_id, std::wstring_view activation_code, std::wstring_view server) noexcept {
  try {
    const std::u16string text = CredentialsText(
        Credentials{ToU16(UpToNul(vpn_id)), ToU16(UpToNul(activation_code)), ToU16(UpToNul(server))});
    // More than the store takes anyway; below it every size fits a DWORD.
    if (text.size() >= config::kMaxSettingBytes / 2) return false;
    // Protected with its terminator, which every reader of the cache expects.
    std::vector<BYTE> plain((text.size() + 1) * 2, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
      plain[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
      plain[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
    }
    DATA_BLOB in{static_cast<DWORD>(plain.size()), plain.data()};
    DATA_BLOB out{};
    if (!::CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
    const UniqueLocalMemory owned(out.pbData);
    return config::WriteBinarySetting(SettingId::kCredCache, std::span<const BYTE>(out.pbData, out.cbData));
  } catch (const std::bad_alloc&) {
    // Out of memory: the earlier value stays.
    return false;
  }
}

void LoadCredentials(std::wstring& vpn_id, std::wstring& activation_code, std::wstring& server) noexcept {
  vpn_id.clear();
  activation_code.clear();
  server.clear();
  try {
    LoadOrThrow(vpn_id, activation_code, server);
  } catch (const std::bad_alloc&) {
    vpn_id.clear();
    activation_code.clear();
    server.clear();
  }
}

void FillCredentialFields(HWND main_window) noexcept {
  std::wstring vpn_id;
  std::wstring activation_code;
  std::wstring server;
  LoadCredentials(vpn_id, activation_code, server);
  ::SetDlgItemTextW(main_window, IDC_VPN_ID, vpn_id.c_str());
  ::SetDlgItemTextW(main_window, IDC_ACTIVATION_CODE, activation_code.c_str());
  // The box's own text search ignores case, and host names that differ only
  // in case are different servers.
  if (!server.empty()) (void)config::SelectServerExactly(::GetDlgItem(main_window, IDC_SERVER), server);
}

}  // namespace veltrona::app
