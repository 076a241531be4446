// What the service cannot put in its own log goes to the Windows event log,
// where an administrator looks: the application log, source "VeltronaVPNsrv".
#pragma once

#include <string>

namespace veltrona::service {

inline constexpr wchar_t kEventSource[] = L"VeltronaVPNsrv";

// Event ids, one per kind of trouble.
inline constexpr unsigned long kEventServiceFolderUnusable = 1;
inline constexpr unsigned long kEventLogUnavailable = 2;
inline constexpr unsigned long kEventOpenVpnNotStarted = 3;

// Reports an error event with `text` (ANSI, as the log lines are). Failures
// are ignored: there is nowhere left to report them.
void ReportErrorEvent(unsigned long event_id, const std::string& text) noexcept;

}  // namespace veltrona::service
