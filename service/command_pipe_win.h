// The service's end of the command pipe: a few instances, each reading one
// message per connection without ever blocking the worker, so that a client
// that connects and says nothing holds one instance for about a second and
// keeps nobody else out.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "ipc/protocol.h"
#include "service/service_log.h"

namespace veltrona::service {

// A whole message as it arrived; `pipe` is still connected to its sender
// while the handler runs, so the handler may ask who sent it.
struct PipeMessage {
  uint32_t code = 0;
  const ipc::SetPathPayload* payload = nullptr;  // MSG_SET_PATH only
  HANDLE pipe = nullptr;
};

class CommandPipe {
 public:
  // At most this many clients are served at once; anyone may connect, so one
  // instance busy with a silent client leaves the others free.
  static constexpr size_t kInstances = 4;

  using Handler = std::function<void(const PipeMessage&)>;

  CommandPipe(ServiceLog& log, std::wstring name, SECURITY_ATTRIBUTES* attributes);
  ~CommandPipe();
  CommandPipe(const CommandPipe&) = delete;
  CommandPipe& operator=(const CommandPipe&) = delete;

  // Creates the instances that are missing and listens on them. The first
  // one must be the pipe's first instance: a pipe of that name that someone
  // else made is never served. False (logged once) while no instance exists.
  [[nodiscard]] bool Open();
  [[nodiscard]] bool IsOpen() const;

  // The events to wait on, and how long the earliest read may still take.
  void AppendWaitHandles(std::vector<HANDLE>& handles) const;
  [[nodiscard]] DWORD MillisecondsToNextDeadline() const;

  // The event at `index` of AppendWaitHandles's list fired, or a deadline may
  // have passed: advances the instances. True when a connection came to its
  // end (message handled, refused or timed out) and its instance listens again.
  [[nodiscard]] bool OnEvent(size_t index, const Handler& handler);
  [[nodiscard]] bool OnDeadlines();

 private:
  enum class Stage { kClosed, kListening, kReadingCode, kReadingPayload };
  struct Instance {
    UniquePipe pipe;
    UniqueEvent event;
    OVERLAPPED overlapped{};
    Stage stage = Stage::kClosed;
    bool io_pending = false;
    ULONGLONG deadline = 0;
    size_t received = 0;
    std::array<uint8_t, ipc::kSetPathMessageSize> bytes{};
  };

  [[nodiscard]] bool CreateInstance(Instance& instance, bool first);
  void Listen(Instance& instance);
  void StartReading(Instance& instance, Stage stage, DWORD timeout_ms);
  // Reads on until the stage's bytes are in, a read is pending, or it failed.
  [[nodiscard]] bool Advance(Instance& instance, const Handler& handler);
  [[nodiscard]] bool Finish(Instance& instance);
  void CancelPending(Instance& instance);

  ServiceLog& log_;
  std::wstring name_;
  SECURITY_ATTRIBUTES* attributes_;
  std::array<Instance, kInstances> instances_;
  bool open_failure_logged_ = false;
};

}  // namespace veltrona::service
