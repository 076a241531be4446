#include "base/known_folders_win.h"

#include <windows.h>
#include <shlobj.h>

namespace veltrona {

std::optional<std::wstring> ClientDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return std::nullopt;
  }
  std::wstring path(folder);
  path += L'\\';
  path += kProductFolderName;
  return path;
}

std::optional<std::string> ServiceDataFolderAnsi() {
  char folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return std::nullopt;
  }
  return std::string(folder) + "\\Veltrona VPN";
}

}  // namespace veltrona
