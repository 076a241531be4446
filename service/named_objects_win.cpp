#include "service/named_objects_win.h"

namespace veltrona::service {

namespace {

// The names are fixed ASCII texts.
std::string AsciiName(const std::wstring& name) { return std::string(name.begin(), name.end()); }

}  // namespace

bool ServiceEvent::Create(ServiceLog& log, SECURITY_ATTRIBUTES* attributes) {
  if (event_) return true;
  UniqueEvent event(::CreateEventW(attributes, manual_reset_ ? TRUE : FALSE, FALSE, name_.c_str()));
  const DWORD error = ::GetLastError();
  std::string problem;
  if (!event) {
    if (error == ERROR_INVALID_HANDLE) {
      problem = ": " + AsciiName(name_) + " exists and is not an event";
    } else if (error == ERROR_ACCESS_DENIED) {
      problem = ": " + AsciiName(name_) + " exists and belongs to another program";
    }
  } else if (error == ERROR_ALREADY_EXISTS) {
    // Whoever made it could set, reset or hold it at will.
    event.Reset();
    problem = ": " + AsciiName(name_) + " already existed; another program made it";
  }
  if (event) {
    event_ = std::move(event);
    if (failure_logged_) log.Write(AsciiName(name_) + " created");
    failure_logged_ = false;
    return true;
  }
  if (!failure_logged_) log.WriteCode(what_ + " failed" + problem, error);
  failure_logged_ = true;
  return false;
}

ClientMutexState OpenClientMutex(const std::wstring& name, UniqueMutex* held) {
  held->Reset();
  UniqueMutex mutex(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
  if (!mutex) {
    switch (::GetLastError()) {
      case ERROR_FILE_NOT_FOUND:
        return ClientMutexState::kMissing;
      case ERROR_INVALID_HANDLE:
        return ClientMutexState::kWrongType;
      default:
        return ClientMutexState::kUnusable;
    }
  }
  switch (::WaitForSingleObject(mutex.Get(), 0)) {
    case WAIT_TIMEOUT:
      *held = std::move(mutex);
      return ClientMutexState::kHeld;
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      // Nobody held it, or its holder died: it is ours now; give it back.
      ::ReleaseMutex(mutex.Get());
      return ClientMutexState::kFree;
    default:
      return ClientMutexState::kUnusable;
  }
}

bool IsEventSet(HANDLE event) { return event != nullptr && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace veltrona::service
