#pragma once

#include <string>

#include "service/service_folder_win.h"
#include "service/service_log.h"

namespace veltrona::service {

// "<common application data>\Veltrona VPN\service.log", in the ANSI code page.
std::string ServiceLogPath();

// Creates the log file anew in the service's folder: whatever has its name is
// removed first (a link as itself), so that the log is never written through
// something a user put there. Others may read it. When the folder cannot be
// used or the file cannot be made, the log stays closed and the reason goes
// to the event log.
ServiceLog OpenServiceLog(const ServiceFolder& folder);

}  // namespace veltrona::service
