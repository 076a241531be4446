#include "service/start_request.h"

namespace veltrona::service {

std::string RefuseStart(const StartRequestFacts& facts) {
  if (!facts.have_paths) return "No data folder has been set; OpenVPN is not started";
  if (facts.paths_used) return "The open request does not follow a new MSG_SET_PATH; OpenVPN is not started";
  if (facts.request_age_ms > kOpenRequestWindowMs) {
    return "The open request came too long after MSG_SET_PATH; OpenVPN is not started";
  }
  if (!facts.sender_running) return "The connection tool that sent MSG_SET_PATH has ended; OpenVPN is not started";
  switch (facts.client_mutex) {
    case ClientMutexState::kHeld:
      break;
    case ClientMutexState::kFree:
    case ClientMutexState::kMissing:
      return "The connection tool is not running; OpenVPN is not started";
    case ClientMutexState::kWrongType:
      return "Global\\VeltronaIsOpened is not a mutex; another program made it; OpenVPN is not started";
    case ClientMutexState::kUnusable:
      return "Global\\VeltronaIsOpened cannot be opened; OpenVPN is not started";
  }
  if (!facts.exit_event_ready) return "The exit event for OpenVPN is not available; OpenVPN is not started";
  if (facts.exit_requested) return "The connection tool asked to disconnect before OpenVPN started; OpenVPN is not started";
  return {};
}

}  // namespace veltrona::service
