// Writing the OpenVPN configuration and its keys into the data folder: the
// downloaded key archive is saved, unpacked with minizip and deleted, and the
// template becomes "Veltrona.ovpn". What to fetch and what to write is
// decided by openvpn_config.h and archive_names.h; this file does the I/O.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "client/config/deployment.h"

namespace veltrona::config {

// Messages are warnings owned by `owner`, the main window.

// Writes `bytes` to folder + "\" + name, replacing any file there. Empty
// bytes or a path too long for 260 units: false, nothing written, no message.
// "Can't create file " / "Can't save file " and the path on failure.
[[nodiscard]] bool SaveDownloadedFile(std::wstring_view folder, std::wstring_view name, std::string_view bytes,
                                      HWND owner) noexcept;

// Unpacks folder + "\" + archive_name into the folder and deletes the
// archive. Entries whose names lead outside the folder, and entries beyond
// the extraction budget, are skipped. False when the archive cannot be opened
// ("Can't open zip file " and the path) or has no entries (no message).
[[nodiscard]] bool ExtractKeyArchive(std::wstring_view folder, std::wstring_view archive_name,
                                     HWND owner) noexcept;

// Fetches the key archive and template that the cached server list names
// from `config_host`, unpacks the keys into `data_folder` and writes
// "Veltrona.ovpn" for the server `address` and its `proxy`. True when a
// configuration is in place: written now, or left from an earlier run when a
// download fails.
[[nodiscard]] bool WriteOpenVpnConfig(const HostAddress& config_host, std::wstring_view data_folder,
                                      std::wstring_view address, std::wstring_view proxy,
                                      HWND owner) noexcept;

}  // namespace veltrona::config
