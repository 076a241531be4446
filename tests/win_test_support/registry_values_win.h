// Registry values as the tests set, read and remove them: the installation's
// and the user's settings, the proxy settings and the default browser.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace veltrona::test_support {

// The installation's settings under HKEY_LOCAL_MACHINE, and the user's under
// HKEY_CURRENT_USER.
inline constexpr wchar_t kMachineKey[] = L"Software\\VeltronaVPN";
inline constexpr wchar_t kUserKey[] = L"SOFTWARE\\VeltronaVPN";
inline constexpr wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
// Its default value names the user's default browser.
inline constexpr wchar_t kDefaultBrowserKey[] = L"SOFTWARE\\Clients\\StartMenuInternet";

// Writes make the key when it is missing; a null or empty `name` is the key's
// default value. A write that fails fails the running test and returns false.
bool SetValue(HKEY hive, const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size);
bool SetString(HKEY hive, const wchar_t* key, const wchar_t* name, const std::wstring& value);
bool SetDword(HKEY hive, const wchar_t* key, const wchar_t* name, DWORD value);
bool CreateKey(HKEY hive, const wchar_t* key);
// A value or key that is not there is no failure.
void DeleteValue(HKEY hive, const wchar_t* key, const wchar_t* name);

// Nothing when the value is missing or of another type.
std::optional<std::wstring> ReadString(HKEY hive, const std::wstring& key, const wchar_t* name);
std::optional<DWORD> ReadDword(HKEY hive, const std::wstring& key, const wchar_t* name);
bool KeyExists(HKEY hive, const std::wstring& key);

// The user's own proxy, turned on for one test and removed again when the
// test ends, however it ends. Loopback is left out of it: WinINet under
// Wine would otherwise send the client's requests to the test's hosts
// through the proxy.
class ScopedUserProxy {
 public:
  explicit ScopedUserProxy(const std::wstring& server);
  ~ScopedUserProxy();
  ScopedUserProxy(const ScopedUserProxy&) = delete;
  ScopedUserProxy& operator=(const ScopedUserProxy&) = delete;
};

}  // namespace veltrona::test_support
