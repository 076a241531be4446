// The client's side of the command pipe: each call opens the pipe, writes one
// message and closes it. Nothing comes back over the pipe; the service's
// answer to MSG_SET_PATH is the sync event.
#pragma once

#include <cstdint>
#include <string>

#include "ipc/protocol.h"

namespace veltrona::ipc {

// The names a sender opens. Tests use their own names so that they never meet
// a service that happens to run.
struct Endpoints {
  std::wstring pipe;
  std::wstring sync_event;
  std::wstring open_event;
  std::wstring exit_event;
  uint32_t sync_timeout_ms = kSyncWaitTimeoutMs;

  static Endpoints Default();
};

enum class StartRequest {
  // The service stored the paths and the open event is set: OpenVPN starts.
  kRequested,
  // The pipe could not be opened or written (service not running, or busy).
  // Nothing was sent and no event was touched.
  kServiceUnavailable,
  // The message was sent but the service did not acknowledge it in time (or
  // its events are missing); the open event was not set.
  kNoAnswer,
  // The data folder could not be determined, or is too long for the service.
  kFolderUnavailable,
};

// Asks the service to start OpenVPN with the configuration in the client's
// data folder: MSG_SET_PATH, then, once the service has set the sync event,
// the open event. Waits at most kSyncWaitTimeoutMs for the service.
[[nodiscard]] StartRequest RequestServiceStart() noexcept;
[[nodiscard]] StartRequest RequestServiceStart(const Endpoints& endpoints, const std::wstring& data_folder) noexcept;

// Sends MSG_CHECK_ROUTES. Returns whether the message was written.
[[nodiscard]] bool RequestRouteCheck() noexcept;
[[nodiscard]] bool RequestRouteCheck(const Endpoints& endpoints) noexcept;

// Sets the exit event that OpenVPN waits on; nothing happens when no OpenVPN
// runs.
void SignalOpenVpnExit() noexcept;
void SignalOpenVpnExit(const Endpoints& endpoints) noexcept;

}  // namespace veltrona::ipc
