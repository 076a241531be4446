#include "tests/e2e/real_openvpn/service_double_win.h"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include "base/wide_text.h"
#include "ipc/protocol.h"
#include "tests/win_test_support/process_win.h"

namespace veltrona::test_support {
namespace {

// The service's own limits for the two parts of a message.
constexpr DWORD kCodeWaitMs = ipc::kCodeReadTimeoutMs;
constexpr DWORD kPayloadWaitMs = ipc::kPayloadReadTimeoutMs;

}  // namespace

ServiceDouble::ServiceDouble(std::function<void()> on_open, std::optional<ipc::Endpoints> endpoints)
    : on_open_(std::move(on_open)) {
  const std::wstring unique = UniqueSuffix();
  endpoints_ = endpoints ? *endpoints
                         : ipc::Endpoints{L"\\\\.\\pipe\\VeltronaServiceDouble" + unique,
                                          L"VeltronaServiceDoubleSync" + unique, L"VeltronaServiceDoubleOpen" + unique,
                                          L"VeltronaServiceDoubleExit" + unique, ipc::kSyncWaitTimeoutMs};
  // As the service makes them: one inbound instance, byte mode, overlapped.
  pipe_.Reset(::CreateNamedPipeW(endpoints_.pipe.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, ipc::kPipeBufferSize,
                                 ipc::kPipeBufferSize, 0, nullptr));
  sync_.Reset(::CreateEventW(nullptr, FALSE, FALSE, endpoints_.sync_event.c_str()));
  open_.Reset(::CreateEventW(nullptr, FALSE, FALSE, endpoints_.open_event.c_str()));
  stop_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  connected_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  read_done_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!pipe_ || !sync_ || !open_ || !stop_ || !connected_ || !read_done_) return;
  // Listening before the constructor returns, as the service does at start:
  // a client that came and went before a later first listen would be lost.
  listening_.hEvent = connected_.Get();
  if (!Listen()) return;
  serving_ = true;
  thread_ = std::thread([this] { Serve(); });
}

ServiceDouble::~ServiceDouble() {
  if (!thread_.joinable()) return;
  ::SetEvent(stop_.Get());
  thread_.join();
}

std::wstring ServiceDouble::data_folder() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return data_folder_;
}

void ServiceDouble::Serve() {
  const std::array<HANDLE, 3> waits{stop_.Get(), connected_.Get(), open_.Get()};
  for (;;) {
    const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, INFINITE);
    if (result == WAIT_OBJECT_0 + 1) {
      HandleMessage();
      ::DisconnectNamedPipe(pipe_.Get());
      if (!Listen()) break;
    } else if (result == WAIT_OBJECT_0 + 2) {
      ++open_requests_;
      if (on_open_) on_open_();
    } else {
      break;  // stopped, or a wait that can only fail again
    }
  }
  // The pending listen refers to listening_: end it before it goes.
  if (::CancelIoEx(pipe_.Get(), &listening_)) {
    DWORD ignored = 0;
    ::GetOverlappedResult(pipe_.Get(), &listening_, &ignored, TRUE);
  }
}

bool ServiceDouble::Listen() {
  HANDLE event = listening_.hEvent;
  for (;;) {
    listening_ = OVERLAPPED{};
    listening_.hEvent = event;
    ::ResetEvent(event);
    if (::ConnectNamedPipe(pipe_.Get(), &listening_)) return true;
    switch (::GetLastError()) {
      case ERROR_IO_PENDING:
        return true;
      case ERROR_PIPE_CONNECTED:
        // The client came before the listen: no completion will be signalled.
        ::SetEvent(event);
        return true;
      case ERROR_NO_DATA:
        // A client came and already left: free the instance and listen again.
        ::DisconnectNamedPipe(pipe_.Get());
        continue;
      default:
        return false;
    }
  }
}

void ServiceDouble::HandleMessage() {
  ipc::MessageCodeBytes code{};
  if (!ReadExactly(code.data(), static_cast<DWORD>(code.size()))) return;
  switch (ipc::DecodeMessageCode(code)) {
    case ipc::MSG_SET_PATH: {
      ipc::SetPathPayload payload{};
      if (!ReadExactly(payload.data(), static_cast<DWORD>(payload.size()))) return;
      const std::optional<std::u16string> folder = ipc::DecodeSetPathPayload(payload);
      if (!folder) return;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        data_folder_ = ToWide(*folder);
      }
      ++set_path_messages_;
      ::SetEvent(sync_.Get());
      return;
    }
    case ipc::MSG_CHECK_ROUTES:
      ++route_checks_;
      return;
    default:
      return;
  }
}

bool ServiceDouble::ReadExactly(void* buffer, DWORD size) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  DWORD done = 0;
  while (done < size) {
    OVERLAPPED reading{};
    reading.hEvent = read_done_.Get();
    ::ResetEvent(reading.hEvent);
    DWORD got = 0;
    if (!::ReadFile(pipe_.Get(), bytes + done, size - done, &got, &reading)) {
      if (::GetLastError() != ERROR_IO_PENDING) return false;
      const DWORD limit = done == 0 && size == ipc::kMessageCodeSize ? kCodeWaitMs : kPayloadWaitMs;
      if (::WaitForSingleObject(reading.hEvent, limit) != WAIT_OBJECT_0) {
        ::CancelIoEx(pipe_.Get(), &reading);
        ::GetOverlappedResult(pipe_.Get(), &reading, &got, TRUE);
        return false;
      }
      if (!::GetOverlappedResult(pipe_.Get(), &reading, &got, FALSE)) return false;
    }
    if (got == 0) return false;
    done += got;
  }
  return true;
}

}  // namespace veltrona::test_support
