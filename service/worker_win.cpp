#include "service/worker_win.h"

#include <windows.h>

#include "base/unique_handle_win.h"
#include "ipc/senders_win.h"
#include "service/service_control_win.h"
#include "service/service_log_win.h"

namespace veltrona::service {

void RunWorker() {
  ServiceLog log = OpenServiceLog();
  log.Write("Service started");
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  // The stop event exists before the service says it is running, so a stop
  // control can never arrive while there is nothing to set.
  UniqueEvent stop_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const DWORD stop_event_error = ::GetLastError();
  PublishStopEvent(stop_event.Get());

  if (!ReportStatusToSCMgr(SERVICE_RUNNING, 0)) log.WriteCode("ReportStatusToSCMgr failed", ::GetLastError());
  if (!stop_event) log.WriteCode("CreateEvent(0, TRUE, FALSE, 0) failed", stop_event_error);

  log.Write("Service is waiting for events");
  if (stop_event) {
    ::WaitForSingleObject(stop_event.Get(), INFINITE);
  }

  log.Write("System requesting service shutdown");
  ipc::SignalOpenVpnExit();
  PublishStopEvent(nullptr);
  stop_event.Reset();
  ReportStatusToSCMgr(SERVICE_STOPPED, 0);
  log.Close();
}

}  // namespace veltrona::service
