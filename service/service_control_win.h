// The service's life under the service control manager, and the install and
// remove commands of its command line.
#pragma once

#include <windows.h>

namespace veltrona::service {

// The two service-control-manager calls the status reporting goes through.
// Tests replace them to watch the reports; the program uses the system's.
struct ScmApi {
  SERVICE_STATUS_HANDLE(WINAPI* register_handler)(LPCWSTR, LPHANDLER_FUNCTION) = &::RegisterServiceCtrlHandlerW;
  BOOL(WINAPI* set_status)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS) = &::SetServiceStatus;
};
void SetScmApi(const ScmApi& api) noexcept;

// Entry point named in the dispatch table: registers the control handler,
// reports start-pending, runs the worker until the service stops.
void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);

// Fills the process's status record for `state` and sends it.
[[nodiscard]] BOOL ReportStatusToSCMgr(DWORD state, DWORD wait_hint) noexcept;

// The event the control handler sets on a stop control. The worker creates
// it, publishes it here, and withdraws it before closing it.
void PublishStopEvent(HANDLE event) noexcept;

// The whole program: the command line, then the dispatcher. Returns the
// process exit code.
int ServiceProgramMain(int argc, char** argv);

// The command-line switches: 0 on success, 1 on failure, with messages on
// standard output.
[[nodiscard]] int InstallService() noexcept;
[[nodiscard]] int RemoveService() noexcept;

}  // namespace veltrona::service
