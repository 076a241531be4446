#pragma once

#include <string>

#include "service/service_log.h"

namespace veltrona::service {

// "<common application data>\Veltrona VPN\service.log", in the ANSI code page.
std::string ServiceLogPath();

// Creates (truncating) the log file in the service's folder under the
// machine-wide application-data folder. The folder belongs to the
// installation: when it is missing, or is not a plain folder owned by SYSTEM
// or the administrators, the log stays closed.
ServiceLog OpenServiceLog();

}  // namespace veltrona::service
