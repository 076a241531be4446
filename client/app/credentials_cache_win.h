// The credentials cache on Windows: the last VPN ID, activation code and
// server that led to a working connection, protected for the current user
// with DPAPI and kept as one binary value under HKEY_CURRENT_USER, so the
// user finds them filled in at the next start. Nothing here is reported to
// the user: a cache that cannot be read only means empty fields.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace veltrona::app {

// Protects the three texts and replaces the cached value; false (and the
// earlier value kept) when protection or the write fails.
[[nodiscard]] bool SaveCredentials(std::wstring_view vpn_id, std::wstring_view activation_code,
                                   std::wstring_view server) noexcept;

// The cached texts, each at most 65,535 characters; empty when
// nothing can be loaded. Without a cached value, the older unprotected layout
// (three subkeys) is read, saved in the current form and deleted; a fresh
// profile thus gets a value holding three empty texts. A value that cannot be
// unprotected (another user's, say) is left as it is.
void LoadCredentials(std::wstring& vpn_id, std::wstring& activation_code, std::wstring& server) noexcept;

// Puts the cached texts into the main window's VPN ID and activation code
// fields, and selects the cached server in the server box when it lists it.
void FillCredentialFields(HWND main_window) noexcept;

}  // namespace veltrona::app
