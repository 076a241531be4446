#include "service/command_pipe_win.h"

#include <algorithm>

namespace veltrona::service {

namespace {

constexpr size_t kCodeEnd = ipc::kMessageCodeSize;
constexpr size_t kPayloadEnd = ipc::kSetPathMessageSize;
// A client that connected and went at once before the listen: try again.
constexpr int kListenAttempts = 3;

}  // namespace

CommandPipe::CommandPipe(ServiceLog& log, std::wstring name, SECURITY_ATTRIBUTES* attributes)
    : log_(log), name_(std::move(name)), attributes_(attributes) {
  for (Instance& instance : instances_) instance.event.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

CommandPipe::~CommandPipe() {
  for (Instance& instance : instances_) CancelPending(instance);
}

bool CommandPipe::IsOpen() const {
  return std::any_of(instances_.begin(), instances_.end(),
                     [](const Instance& instance) { return instance.stage != Stage::kClosed; });
}

bool CommandPipe::CreateInstance(Instance& instance, bool first) {
  if (!instance.event) return false;
  // The first instance must be the pipe's first: if a pipe of this name
  // exists, someone else made it, and whatever it is, it is not ours.
  const DWORD open_mode = PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  instance.pipe.Reset(::CreateNamedPipeW(name_.c_str(), open_mode,
                                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                         static_cast<DWORD>(kInstances), ipc::kPipeBufferSize, ipc::kPipeBufferSize, 0,
                                         attributes_));
  return instance.pipe.IsValid();
}

bool CommandPipe::Open() {
  bool any_open = IsOpen();
  DWORD error = ERROR_SUCCESS;
  for (Instance& instance : instances_) {
    if (instance.stage != Stage::kClosed) continue;
    if (!CreateInstance(instance, !any_open)) {
      if (error == ERROR_SUCCESS) error = ::GetLastError();
      // Without the first instance, the others would join a stranger's pipe.
      if (!any_open) break;
      continue;
    }
    any_open = true;
    Listen(instance);
  }
  if (!IsOpen()) {
    if (!open_failure_logged_) log_.WriteCode("Communication pipe filed to create", error);
    open_failure_logged_ = true;
    return false;
  }
  if (open_failure_logged_) log_.Write("Communication pipe created");
  open_failure_logged_ = false;
  return true;
}

void CommandPipe::Listen(Instance& instance) {
  for (int attempt = 0; attempt < kListenAttempts; ++attempt) {
    instance.overlapped = OVERLAPPED{};
    instance.overlapped.hEvent = instance.event.Get();
    ::ResetEvent(instance.event.Get());
    instance.stage = Stage::kListening;
    instance.received = 0;
    if (::ConnectNamedPipe(instance.pipe.Get(), &instance.overlapped)) {
      instance.io_pending = false;
      ::SetEvent(instance.event.Get());
      return;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
      instance.io_pending = true;
      return;
    }
    if (error == ERROR_PIPE_CONNECTED) {
      // A client got in before the listen; the system signals nothing for
      // that, so the pipe does, to read its message.
      instance.io_pending = false;
      ::SetEvent(instance.event.Get());
      return;
    }
    if (error != ERROR_NO_DATA) {
      log_.WriteCode("ConnectNamedPipe failed", error);
      break;
    }
    // The client came and went already: clear the instance and listen again.
    ::DisconnectNamedPipe(instance.pipe.Get());
  }
  // Given up on; the next Open() makes it anew.
  instance.io_pending = false;
  instance.pipe.Reset();
  instance.stage = Stage::kClosed;
}

void CommandPipe::CancelPending(Instance& instance) {
  if (!instance.io_pending) return;
  // Nothing may still be written into the buffer or the OVERLAPPED after this.
  ::CancelIoEx(instance.pipe.Get(), &instance.overlapped);
  DWORD ignored = 0;
  ::GetOverlappedResult(instance.pipe.Get(), &instance.overlapped, &ignored, TRUE);
  instance.io_pending = false;
}

void CommandPipe::AppendWaitHandles(std::vector<HANDLE>& handles) const {
  for (const Instance& instance : instances_) {
    if (instance.stage != Stage::kClosed) handles.push_back(instance.event.Get());
  }
}

DWORD CommandPipe::MillisecondsToNextDeadline() const {
  const ULONGLONG now = ::GetTickCount64();
  DWORD nearest = INFINITE;
  for (const Instance& instance : instances_) {
    if (instance.stage != Stage::kReadingCode && instance.stage != Stage::kReadingPayload) continue;
    const DWORD left = instance.deadline <= now ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(instance.deadline - now, INFINITE - 1));
    nearest = std::min(nearest, left);
  }
  return nearest;
}

void CommandPipe::StartReading(Instance& instance, Stage stage, DWORD timeout_ms) {
  instance.stage = stage;
  instance.deadline = ::GetTickCount64() + timeout_ms;
}

bool CommandPipe::Finish(Instance& instance) {
  CancelPending(instance);
  ::DisconnectNamedPipe(instance.pipe.Get());
  Listen(instance);
  return true;
}

bool CommandPipe::Advance(Instance& instance, const Handler& handler) {
  for (;;) {
    const size_t end = instance.stage == Stage::kReadingCode ? kCodeEnd : kPayloadEnd;
    if (instance.received == end) {
      if (instance.stage == Stage::kReadingCode) {
        const uint32_t code = ipc::DecodeMessageCode(std::span<const uint8_t, ipc::kMessageCodeSize>(
            instance.bytes.data(), ipc::kMessageCodeSize));
        if (code == ipc::MSG_SET_PATH) {
          log_.Write("Message MSG_SET_PATH");
          StartReading(instance, Stage::kReadingPayload, ipc::kPayloadReadTimeoutMs);
          continue;
        }
        // Anything after the code of another message is never read.
        handler(PipeMessage{code, nullptr, instance.pipe.Get()});
        return Finish(instance);
      }
      ipc::SetPathPayload payload;
      std::copy_n(instance.bytes.begin() + kCodeEnd, payload.size(), payload.begin());
      handler(PipeMessage{ipc::MSG_SET_PATH, &payload, instance.pipe.Get()});
      return Finish(instance);
    }
    instance.overlapped = OVERLAPPED{};
    instance.overlapped.hEvent = instance.event.Get();
    ::ResetEvent(instance.event.Get());
    DWORD transferred = 0;
    BOOL done = ::ReadFile(instance.pipe.Get(), instance.bytes.data() + instance.received,
                           static_cast<DWORD>(end - instance.received), nullptr, &instance.overlapped);
    DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
    if (!done && error == ERROR_IO_PENDING) {
      instance.io_pending = true;
      return false;
    }
    if (done) {
      done = ::GetOverlappedResult(instance.pipe.Get(), &instance.overlapped, &transferred, FALSE);
      if (!done) error = ::GetLastError();
    }
    if (done && transferred == 0) {
      done = FALSE;
      error = ERROR_BROKEN_PIPE;
    }
    if (!done) {
      if (instance.stage == Stage::kReadingCode) {
        log_.WriteCode("Reading from pipe failed", error);
      } else {
        log_.Write("MSG_SET_PATH refused: the message is incomplete");
      }
      return Finish(instance);
    }
    instance.received += transferred;
  }
}

bool CommandPipe::OnEvent(size_t index, const Handler& handler) {
  size_t seen = 0;
  Instance* found = nullptr;
  for (Instance& instance : instances_) {
    if (instance.stage == Stage::kClosed) continue;
    if (seen++ == index) {
      found = &instance;
      break;
    }
  }
  if (found == nullptr) return false;
  Instance& instance = *found;
  DWORD transferred = 0;
  const bool pending = instance.io_pending;
  instance.io_pending = false;
  const bool ok = !pending || ::GetOverlappedResult(instance.pipe.Get(), &instance.overlapped, &transferred, FALSE);
  const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
  if (instance.stage == Stage::kListening) {
    ::ResetEvent(instance.event.Get());
    if (!ok) {
      // A connection that failed before it was made: nothing to read.
      ::DisconnectNamedPipe(instance.pipe.Get());
      Listen(instance);
      return false;
    }
    StartReading(instance, Stage::kReadingCode, ipc::kCodeReadTimeoutMs);
    return Advance(instance, handler);
  }
  if (!ok || transferred == 0) {
    if (instance.stage == Stage::kReadingCode) {
      log_.WriteCode("Reading from pipe failed", ok ? ERROR_BROKEN_PIPE : error);
    } else {
      log_.Write("MSG_SET_PATH refused: the message is incomplete");
    }
    return Finish(instance);
  }
  instance.received += transferred;
  return Advance(instance, handler);
}

bool CommandPipe::OnDeadlines() {
  const ULONGLONG now = ::GetTickCount64();
  bool finished = false;
  for (Instance& instance : instances_) {
    if (instance.stage != Stage::kReadingCode && instance.stage != Stage::kReadingPayload) continue;
    if (now < instance.deadline) continue;
    // A payload that comes too late is dropped without a word.
    if (instance.stage == Stage::kReadingCode) log_.Write("No data arrived from the pipe");
    finished = Finish(instance) || finished;
  }
  return finished;
}

}  // namespace veltrona::service
