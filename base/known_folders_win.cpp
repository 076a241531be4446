#include "base/known_folders_win.h"

#include <windows.h>
#include <shlobj.h>

namespace veltrona {

std::optional<std::wstring> KnownFolder(int csidl) {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder))) return std::nullopt;
  return std::wstring(folder);
}

std::optional<std::wstring> ClientDataFolder() {
  std::optional<std::wstring> path = KnownFolder(CSIDL_LOCAL_APPDATA);
  if (!path) return std::nullopt;
  *path += L'\\';
  *path += kProductFolderName;
  return path;
}

// The shell's own ANSI lookup, not KnownFolder converted: these are the
// bytes the shell gives ANSI programs (its conversion, best-fit mapping and
// MAX_PATH-byte limit included), which the service's log path has always
// been made of.
std::optional<std::string> ServiceDataFolderAnsi() {
  char folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return std::nullopt;
  }
  return std::string(folder) + "\\Veltrona VPN";
}

}  // namespace veltrona
