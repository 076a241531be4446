// The service program's worker run from a console, with the service control
// manager stood in for: it starts, reports running, is told to stop at once
// and ends. Tests run it with its output captured to see what the service
// reports where an administrator looks while it starts (under Wine the event
// log is printed on standard error).
#include <windows.h>

#include <atomic>
#include <thread>

#include "service/service_control_win.h"

namespace {

std::atomic<LPHANDLER_FUNCTION> g_handler{nullptr};
std::atomic<bool> g_running{false};
const auto kStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5EED);

SERVICE_STATUS_HANDLE WINAPI Register(LPCWSTR, LPHANDLER_FUNCTION handler) {
  g_handler = handler;
  return kStatusHandle;
}

BOOL WINAPI SetStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
  if (status->dwCurrentState == SERVICE_RUNNING) g_running = true;
  return TRUE;
}

}  // namespace

int wmain() {
  veltrona::service::SetScmApi(veltrona::service::ScmApi{&Register, &SetStatus});
  std::thread service([] { veltrona::service::ServiceMain(0, nullptr); });
  for (int i = 0; i < 600 && !g_running; ++i) ::Sleep(50);
  const bool started = g_running;
  if (LPHANDLER_FUNCTION handler = g_handler) handler(SERVICE_CONTROL_STOP);
  service.join();
  return started ? 0 : 1;
}
