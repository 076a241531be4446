// A service that takes three and a half seconds to stop, registered by tests
// under the product's service name to watch how removal waits for it.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_handle = nullptr;
HANDLE g_stop = nullptr;
constexpr DWORD kStopDurationMs = 3500;

void Report(DWORD state, DWORD check_point, DWORD wait_hint) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwCheckPoint = check_point;
  status.dwWaitHint = wait_hint;
  ::SetServiceStatus(g_handle, &status);
}

void WINAPI Handler(DWORD control) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING, 1, kStopDurationMs + 2000);
    ::SetEvent(g_stop);
  }
}

wchar_t g_name[] = L"VeltronaVPNService";

void WINAPI Main(DWORD, LPWSTR*) {
  g_handle = ::RegisterServiceCtrlHandlerW(g_name, Handler);
  if (g_handle == nullptr) return;
  g_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_RUNNING, 0, 0);
  ::WaitForSingleObject(g_stop, INFINITE);
  for (DWORD step = 2; step < 2 + kStopDurationMs / 500; ++step) {
    ::Sleep(500);
    Report(SERVICE_STOP_PENDING, step, 2000);
  }
  Report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int wmain() {
  SERVICE_TABLE_ENTRYW table[] = {{g_name, Main}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
