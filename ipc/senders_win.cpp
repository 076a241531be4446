#include "ipc/senders_win.h"

#include <windows.h>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "ipc/protocol.h"

namespace veltrona::ipc {

namespace {

// Only the right to write: the service's pipe grants nothing more, and in
// particular not the right to add a pipe instance that GENERIC_WRITE asks
// for. `security_quality` says how far the service may act as this user.
UniquePipe OpenCommandPipe(const Endpoints& endpoints, DWORD security_quality) {
  // The pipe has one instance, busy while the service handles another
  // message: wait for it a little rather than drop this one.
  const ULONGLONG deadline = ::GetTickCount64() + kPipeBusyWaitMs;
  for (;;) {
    UniquePipe pipe(::CreateFileW(endpoints.pipe.c_str(), FILE_WRITE_DATA | SYNCHRONIZE, 0, nullptr, OPEN_EXISTING,
                                  SECURITY_SQOS_PRESENT | security_quality, nullptr));
    if (pipe || ::GetLastError() != ERROR_PIPE_BUSY) return pipe;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return pipe;
    ::WaitNamedPipeW(endpoints.pipe.c_str(), static_cast<DWORD>(deadline - now));
  }
}

bool WriteAll(HANDLE pipe, const uint8_t* data, DWORD size) {
  DWORD written = 0;
  return ::WriteFile(pipe, data, size, &written, nullptr) && written == size;
}

}  // namespace

Endpoints Endpoints::Default() {
  return {ToWide(kPipeName), ToWide(kSyncEventName), ToWide(kOpenEventName), ToWide(kExitEventName),
          kSyncWaitTimeoutMs};
}

StartRequest RequestServiceStart() noexcept {
  try {
    const auto folder = ClientDataFolder();
    if (!folder) return StartRequest::kFolderUnavailable;
    return RequestServiceStart(Endpoints::Default(), *folder);
  } catch (...) {
    return StartRequest::kFolderUnavailable;
  }
}

StartRequest RequestServiceStart(const Endpoints& endpoints, const std::wstring& data_folder) noexcept {
  try {
    const auto payload = EncodeSetPathPayload(ToU16(data_folder));
    if (!payload) return StartRequest::kFolderUnavailable;
    {
      // The service reads the configuration and creates OpenVPN's log as
      // this user, so it may impersonate, but only with what is enabled now.
      UniquePipe pipe = OpenCommandPipe(endpoints, SECURITY_IMPERSONATION | SECURITY_EFFECTIVE_ONLY);
      if (!pipe) return StartRequest::kServiceUnavailable;
      const MessageCodeBytes code = EncodeMessageCode(MSG_SET_PATH);
      // Code and payload go as two writes; the service reads them as two
      // reads with their own time limits.
      if (!WriteAll(pipe.Get(), code.data(), static_cast<DWORD>(code.size())) ||
          !WriteAll(pipe.Get(), payload->data(), static_cast<DWORD>(payload->size()))) {
        return StartRequest::kServiceUnavailable;
      }
    }
    UniqueEvent sync(::OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, endpoints.sync_event.c_str()));
    if (!sync) return StartRequest::kNoAnswer;
    // Bounded, so that a service that never reads the payload cannot freeze
    // the caller's window for good.
    if (::WaitForSingleObject(sync.Get(), endpoints.sync_timeout_ms) != WAIT_OBJECT_0) return StartRequest::kNoAnswer;
    UniqueEvent open(::OpenEventW(EVENT_MODIFY_STATE, FALSE, endpoints.open_event.c_str()));
    if (!open || !::SetEvent(open.Get())) return StartRequest::kNoAnswer;
    return StartRequest::kRequested;
  } catch (...) {
    return StartRequest::kServiceUnavailable;
  }
}

bool RequestRouteCheck() noexcept {
  try {
    return RequestRouteCheck(Endpoints::Default());
  } catch (...) {
    return false;
  }
}

bool RequestRouteCheck(const Endpoints& endpoints) noexcept {
  // A route check needs nobody's identity.
  UniquePipe pipe = OpenCommandPipe(endpoints, SECURITY_IDENTIFICATION);
  if (!pipe) return false;
  const MessageCodeBytes code = EncodeMessageCode(MSG_CHECK_ROUTES);
  return WriteAll(pipe.Get(), code.data(), static_cast<DWORD>(code.size()));
}

void SignalOpenVpnExit() noexcept {
  try {
    SignalOpenVpnExit(Endpoints::Default());
  } catch (...) {
  }
}

void SignalOpenVpnExit(const Endpoints& endpoints) noexcept {
  UniqueEvent exit_event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, endpoints.exit_event.c_str()));
  if (exit_event) ::SetEvent(exit_event.Get());
}

}  // namespace veltrona::ipc
