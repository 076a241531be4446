// Starting OpenVPN for the client: the client's configuration is read as
// the client, checked, and run from the service's own copy, so that nothing
// a user writes can make OpenVPN act for SYSTEM.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/unique_handle_win.h"
#include "service/client_session_win.h"
#include "service/data_folder.h"
#include "service/service_folder_win.h"
#include "service/service_log.h"

namespace veltrona::service {

struct RunningOpenVpn {
  UniqueProcess process;
  UniqueKernelHandle thread;
  UniqueFile output;
  // The checked copy OpenVPN reads, held unchangeable until OpenVPN is gone.
  HeldCopy copy;
};

struct InstallFolderResult {
  LSTATUS open_status = ERROR_SUCCESS;
  LSTATUS query_status = ERROR_SUCCESS;
  std::wstring folder;
};

// "Install Path" under HKEY_LOCAL_MACHINE\Software\VeltronaVPN.
InstallFolderResult ReadInstallFolder();

// "<install folder>openvpn.exe"; empty when it would not fit 260 characters.
std::wstring OpenVpnProgramPath(const std::wstring& install_folder);

// Logs every step and failure; nothing when OpenVPN was not started. A start
// refused after log.txt was created leaves its reason there too, so that
// the client's problem report carries it.
[[nodiscard]] std::optional<RunningOpenVpn> StartOpenVpn(ServiceLog& log, const ClientSession& session,
                                                         const std::wstring& program,
                                                         const ServiceFolder& service_folder);

}  // namespace veltrona::service
