// Reads from the command pipe with a time limit, without ever leaving a read
// pending on a buffer or OVERLAPPED that goes away.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace veltrona::service {

enum class ReadOutcome {
  kComplete,
  kStartFailed,  // the read could not be started (error)
  kTimedOut,
  kWaitFailed,   // the wait itself failed (error)
  kUnexpected,   // the wait returned something else (error holds the result)
  kIncomplete,   // the client went away after part of the bytes (error)
};

struct ReadResult {
  ReadOutcome outcome = ReadOutcome::kComplete;
  DWORD error = 0;
};

class PipeReader {
 public:
  PipeReader(HANDLE pipe, HANDLE event) : pipe_(pipe), event_(event) {}
  // Reads exactly `size` bytes, however the client cut them, within
  // `timeout_ms` in all.
  ReadResult Read(uint8_t* buffer, size_t size, DWORD timeout_ms);

 private:
  HANDLE pipe_;
  HANDLE event_;
};

}  // namespace veltrona::service
