#include "client/app/credentials_cache_win.h"
namespace veltrona::app {
void SaveCredentials(std::wstring_view, std::wstring_view, std::wstring_view) noexcept {}
void FillCredentialFields(HWND) noexcept {}
}
