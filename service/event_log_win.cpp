#include "service/event_log_win.h"

#include <windows.h>

#include "base/unique_handle_win.h"

namespace veltrona::service {

void ReportErrorEvent(unsigned long event_id, const std::string& text) noexcept {
  UniqueEventSource source(::RegisterEventSourceW(nullptr, kEventSource));
  if (!source) return;
  const char* strings[] = {text.c_str()};
  ::ReportEventA(source.Get(), EVENTLOG_ERROR_TYPE, 0, event_id, nullptr, 1, 0, strings, nullptr);
}

}  // namespace veltrona::service
