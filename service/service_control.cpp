#include "service/service_control.h"

#include "base/ascii.h"
#include "base/wide_text.h"

namespace veltrona::service {

Command ParseCommandLine(int argc, const char* const* argv) {
  if (argc < 2 || argv[1] == nullptr) return Command::kDispatch;
  const std::string_view first(argv[1]);
  if (first.empty() || (first[0] != '-' && first[0] != '/')) return Command::kDispatch;
  const std::string_view word = first.substr(1);
  if (EqualsIgnoringAsciiCase(word, std::string_view("install"))) return Command::kInstall;
  if (EqualsIgnoringAsciiCase(word, std::string_view("remove"))) return Command::kRemove;
  return Command::kDispatch;
}

std::string UsageText() {
  const std::string program(kProgramName);
  return program + " -install          to install the service\n" + program +
         " -remove           to remove the service\n";
}

const StatusRecord& StatusBook::StartPending() {
  record_.current_state = kStateStartPending;
  record_.controls_accepted = 0;
  record_.win32_exit_code = 0;
  record_.service_specific_exit_code = 0;
  record_.check_point = NextCheckPoint();
  record_.wait_hint = kStartWaitHintMs;
  return record_;
}

const StatusRecord& StatusBook::Report(uint32_t state, uint32_t wait_hint) {
  record_.current_state = state;
  record_.win32_exit_code = 0;
  record_.wait_hint = wait_hint;
  record_.controls_accepted = state == kStateStartPending ? 0 : kAcceptStop;
  record_.check_point = (state == kStateRunning || state == kStateStopped) ? 0 : NextCheckPoint();
  return record_;
}

const StatusRecord& StatusBook::StopControl() {
  record_.current_state = kStateStopPending;
  record_.controls_accepted = kAcceptStop;
  record_.win32_exit_code = 0;
  record_.wait_hint = 0;
  record_.check_point = NextCheckPoint();
  return record_;
}

const StatusRecord& StatusBook::FinalStop() {
  record_.current_state = kStateStopped;
  record_.controls_accepted = kAcceptStop;
  record_.win32_exit_code = 0;
  record_.wait_hint = 0;
  record_.check_point = 0;
  return record_;
}

}  // namespace veltrona::service
