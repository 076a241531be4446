// The named kernel objects the service shares with the client and OpenVPN.
// Their names are known to every program on the machine, so any of them may
// have been made first by someone else: an object the service means to
// create must be new, and one it opens must be of the kind it expects.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle_win.h"
#include "service/service_log.h"
#include "service/start_request.h"

namespace veltrona::service {

// Creates the event `name`; an object of that name that exists already, of
// any kind, is refused (and not kept open). `what` leads the log line.
class ServiceEvent {
 public:
  ServiceEvent(std::string what, std::wstring name, bool manual_reset)
      : what_(std::move(what)), name_(std::move(name)), manual_reset_(manual_reset) {}

  // Tries again when the event does not exist yet; logs the first failure
  // of a run of failures, and the recovery.
  [[nodiscard]] bool Create(ServiceLog& log, SECURITY_ATTRIBUTES* attributes);
  [[nodiscard]] HANDLE Get() const { return event_.Get(); }
  [[nodiscard]] bool IsValid() const { return event_.IsValid(); }
  void Close() { event_.Reset(); }

 private:
  std::string what_;
  std::wstring name_;
  bool manual_reset_;
  UniqueEvent event_;
  bool failure_logged_ = false;
};

// Opens the client's mutex without creating it. `held` keeps a handle that
// can be waited on when a client holds it.
ClientMutexState OpenClientMutex(const std::wstring& name, UniqueMutex* held);

// Whether a manual-reset event is set, without changing it.
[[nodiscard]] bool IsEventSet(HANDLE event);

}  // namespace veltrona::service
