// The service program's command line and the status it reports to the
// service control manager. Platform-free so that the rules can be checked
// without a service control manager.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veltrona::service {

inline constexpr char16_t kServiceName[] = u"VeltronaVPNService";
inline constexpr char16_t kDisplayName[] = u"VeltronaVPN Service";
inline constexpr char kProgramName[] = "VeltronaVPNsrv";
// The TAP adapter driver and the DHCP client, as a double-NUL-terminated list.
inline constexpr char16_t kDependencies[] = u"tap0901\0Dhcp\0";

enum class Command { kInstall, kRemove, kDispatch };

// Only the first argument counts: a '-' or '/' followed by "install" or
// "remove" in any case. Anything else hands the process to the dispatcher.
Command ParseCommandLine(int argc, const char* const* argv);

// The two usage lines, each ending in '\n'.
std::string UsageText();

// Values of the service control manager's status fields.
inline constexpr uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr uint32_t kStateStopped = 1;
inline constexpr uint32_t kStateStartPending = 2;
inline constexpr uint32_t kStateStopPending = 3;
inline constexpr uint32_t kStateRunning = 4;
inline constexpr uint32_t kAcceptStop = 1;
inline constexpr uint32_t kStartWaitHintMs = 3000;

struct StatusRecord {
  uint32_t service_type = kServiceWin32OwnProcess;
  uint32_t current_state = 0;
  uint32_t controls_accepted = 0;
  uint32_t win32_exit_code = 0;
  uint32_t service_specific_exit_code = 0;
  uint32_t check_point = 0;
  uint32_t wait_hint = 0;
};

// The one status record of the process and its check-point counter. Each
// operation updates the record for one kind of report and returns it to be
// sent. Pending states carry increasing check points starting at 1.
class StatusBook {
 public:
  // ServiceMain's first report.
  const StatusRecord& StartPending();
  // Any report the worker makes, and the answer to controls other than stop.
  const StatusRecord& Report(uint32_t state, uint32_t wait_hint);
  // The answer to the stop control.
  const StatusRecord& StopControl();
  // ServiceMain's last report, after the worker has returned.
  const StatusRecord& FinalStop();

  [[nodiscard]] const StatusRecord& record() const { return record_; }

 private:
  uint32_t NextCheckPoint() { return next_check_point_++; }

  StatusRecord record_;
  uint32_t next_check_point_ = 1;
};

}  // namespace veltrona::service
