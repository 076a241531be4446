#include "service/pipe_reader_win.h"

namespace veltrona::service {

ReadResult PipeReader::Read(uint8_t* buffer, size_t size, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  size_t received = 0;
  while (received < size) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_;
    if (event_ != nullptr) ::ResetEvent(event_);
    const DWORD wanted = static_cast<DWORD>(size - received);
    if (!::ReadFile(pipe_, buffer + received, wanted, nullptr, &overlapped)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING) {
        return {received == 0 ? ReadOutcome::kStartFailed : ReadOutcome::kIncomplete, error};
      }
    }
    const ULONGLONG now = ::GetTickCount64();
    const DWORD remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD waited = ::WaitForSingleObject(event_, remaining);
    if (waited != WAIT_OBJECT_0) {
      const DWORD error = waited == WAIT_FAILED ? ::GetLastError() : waited;
      // The read must be over before its buffer and OVERLAPPED go away.
      ::CancelIoEx(pipe_, &overlapped);
      DWORD ignored = 0;
      ::GetOverlappedResult(pipe_, &overlapped, &ignored, TRUE);
      if (waited == WAIT_TIMEOUT) return {ReadOutcome::kTimedOut, 0};
      if (waited == WAIT_FAILED) return {ReadOutcome::kWaitFailed, error};
      return {ReadOutcome::kUnexpected, error};
    }
    DWORD transferred = 0;
    if (!::GetOverlappedResult(pipe_, &overlapped, &transferred, FALSE)) {
      return {ReadOutcome::kIncomplete, ::GetLastError()};
    }
    if (transferred == 0) return {ReadOutcome::kIncomplete, ERROR_BROKEN_PIPE};
    received += transferred;
  }
  return {ReadOutcome::kComplete, 0};
}

}  // namespace veltrona::service
