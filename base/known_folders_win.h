// Folders the programs keep their files in.
#pragma once

#include <optional>
#include <string>

namespace veltrona {

// Name of the product's sub-folder in the application-data folders.
inline constexpr wchar_t kProductFolderName[] = L"Veltrona VPN";

// The shell's known folder `csidl` (a CSIDL_ value from <shlobj.h>) of the
// user the program runs as, as the shell gives it; nullopt when the shell
// reports a failure.
[[nodiscard]] std::optional<std::wstring> KnownFolder(int csidl);

// The logged-on user's local application-data folder with "\Veltrona VPN"
// appended, without a trailing backslash: where the client keeps its
// configuration, keys and OpenVPN's output. Not created here.
[[nodiscard]] std::optional<std::wstring> ClientDataFolder();

// The machine-wide application-data folder with "\Veltrona VPN" appended, in
// the ANSI code page: where the service keeps its log. Not created here.
[[nodiscard]] std::optional<std::string> ServiceDataFolderAnsi();

}  // namespace veltrona
