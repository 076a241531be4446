// When a request to start OpenVPN is honoured. The open event carries no
// identity: anyone on the machine may set it. So a start is made only for the
// client whose MSG_SET_PATH came just before, while that client still runs,
// and never after that client has asked to disconnect again.
#pragma once

#include <cstdint>
#include <string>

namespace veltrona::service {

// How long after its paths were acknowledged a client's open request counts.
// A client sets the open event as soon as it sees the acknowledgement.
inline constexpr uint64_t kOpenRequestWindowMs = 5000;

enum class ClientMutexState {
  kHeld,       // someone holds the client's mutex: a client runs
  kFree,       // it exists, but nobody holds it (or its holder died)
  kMissing,    // no client has made it
  kWrongType,  // the name belongs to another kind of object
  kUnusable,   // it exists and cannot be opened
};

struct StartRequestFacts {
  bool have_paths = false;       // a MSG_SET_PATH is on record
  bool paths_used = false;       // and a start was already made for it
  uint64_t request_age_ms = 0;   // from its acknowledgement to the open request
  bool sender_running = false;   // the process that sent it still runs
  ClientMutexState client_mutex = ClientMutexState::kMissing;
  bool exit_event_ready = false; // the service's exit event for OpenVPN exists
  bool exit_requested = false;   // it was set after the acknowledgement
};

// Empty when OpenVPN may start; otherwise the log line that says why not.
std::string RefuseStart(const StartRequestFacts& facts);

}  // namespace veltrona::service
