// TEMPORARY stand-in until the cache lands.
#pragma once
#include <windows.h>
#include <string>
#include <string_view>
namespace veltrona::app {
void SaveCredentials(std::wstring_view vpn_id, std::wstring_view activation_code, std::wstring_view server) noexcept;
void FillCredentialFields(HWND main_window) noexcept;
}
