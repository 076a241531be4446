#include "service/service_control_win.h"

#include <atomic>
#include <mutex>
#include <string>

#include "base/console_win.h"
#include "base/system_error_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "service/service_control.h"
#include "service/worker_win.h"

namespace veltrona::service {

namespace {

constexpr DWORD kModulePathChars = 512;
constexpr DWORD kStopPollMs = 1000;
// A service that stays in stop-pending longer than this is reported as
// failing to stop rather than keeping the console waiting for ever.
constexpr int kMaxStopPolls = 120;

// The handler (main thread) and the worker (service thread) both report
// status; the record and its check-point counter are kept consistent by
// this lock.
std::mutex g_status_lock;
StatusBook g_book;
ScmApi g_api;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
std::atomic<HANDLE> g_stop_event{nullptr};

const std::wstring& ServiceNameW() {
  static const std::wstring name = ToWide(kServiceName);
  return name;
}

const std::wstring& DisplayNameW() {
  static const std::wstring name = ToWide(kDisplayName);
  return name;
}

BOOL SendLocked(const StatusRecord& record) {
  SERVICE_STATUS status{};
  status.dwServiceType = record.service_type;
  status.dwCurrentState = record.current_state;
  status.dwControlsAccepted = record.controls_accepted;
  status.dwWin32ExitCode = record.win32_exit_code;
  status.dwServiceSpecificExitCode = record.service_specific_exit_code;
  status.dwCheckPoint = record.check_point;
  status.dwWaitHint = record.wait_hint;
  return g_api.set_status(g_status_handle, &status);
}

void WINAPI ControlHandler(DWORD control) {
  if (control == SERVICE_CONTROL_STOP) {
    {
      std::lock_guard lock(g_status_lock);
      SendLocked(g_book.StopControl());
    }
    // The worker sees the stop in whichever wait it is in; the handler does
    // not wait for it.
    if (HANDLE stop = g_stop_event.load()) ::SetEvent(stop);
    return;
  }
  DWORD state = 0;
  {
    std::lock_guard lock(g_status_lock);
    state = g_book.record().current_state;
  }
  // A refused report leaves the control manager with the last status it took;
  // there is no one else to tell.
  (void)ReportStatusToSCMgr(state, 0);
}

void Print(const std::wstring& text) { ConsoleWrite(text); }

// "<what> failed - <error text>\n", the error text being the last error's.
void PrintFailure(const wchar_t* what) { Print(std::wstring(what) + L" failed - " + LastErrorText() + L"\n"); }

}  // namespace

void SetScmApi(const ScmApi& api) noexcept {
  std::lock_guard lock(g_status_lock);
  g_api = api;
  g_book = StatusBook();
  g_status_handle = nullptr;
}

void PublishStopEvent(HANDLE event) noexcept { g_stop_event.store(event); }

BOOL ReportStatusToSCMgr(DWORD state, DWORD wait_hint) noexcept {
  std::lock_guard lock(g_status_lock);
  return SendLocked(g_book.Report(state, wait_hint));
}

void WINAPI ServiceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
  g_status_handle = g_api.register_handler(ServiceNameW().c_str(), ControlHandler);
  if (g_status_handle == nullptr) return;
  {
    std::lock_guard lock(g_status_lock);
    SendLocked(g_book.StartPending());
  }
  RunWorker();
  std::lock_guard lock(g_status_lock);
  SendLocked(g_book.FinalStop());
}

int ServiceProgramMain(int argc, char** argv) {
  std::wstring service_name = ServiceNameW();
  SERVICE_TABLE_ENTRYW dispatch_table[] = {{service_name.data(), ServiceMain}, {nullptr, nullptr}};
  switch (ParseCommandLine(argc, argv)) {
    case Command::kInstall:
      return InstallService();
    case Command::kRemove:
      return RemoveService();
    case Command::kDispatch:
      break;
  }
  const std::string usage = UsageText();
  Print(std::wstring(usage.begin(), usage.end()));
  // Under the service control manager this returns once the service has
  // stopped; from a console it fails at once.
  ::StartServiceCtrlDispatcherW(dispatch_table);
  return 0;
}

int InstallService() noexcept {
  try {
    wchar_t module_path[kModulePathChars] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, module_path, kModulePathChars);
    // A path that filled the buffer was cut short; registering it would
    // leave a service that can never start.
    if (length == 0 || length >= kModulePathChars) {
      if (length != 0) ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      Print(L"Unable to install " + DisplayNameW() + L" - " + LastErrorText() + L"\n");
      return 1;
    }
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
      PrintFailure(L"OpenSCManager");
      return 1;
    }
    const std::wstring dependencies(kDependencies, kDependencies + std::size(kDependencies));
    // Quoted: the service control manager splits an unquoted path at its
    // first blank, so in "C:\Program Files\..." it would first try to run
    // "C:\Program.exe", a file any user who can write to C:\ could place.
    const std::wstring binary_path = L"\"" + std::wstring(module_path, length) + L"\"";
    UniqueServiceHandle service(::CreateServiceW(
        manager.Get(), ServiceNameW().c_str(), DisplayNameW().c_str(), SC_MANAGER_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binary_path.c_str(), nullptr, nullptr,
        dependencies.c_str(), nullptr, nullptr));
    if (!service) {
      PrintFailure(L"CreateService");
      return 1;
    }
    Print(DisplayNameW() + L" installed.\n");
    if (!::StartServiceW(service.Get(), 0, nullptr)) {
      PrintFailure(L"StartService");
      return 1;
    }
    Print(L"Service Started\n");
    return 0;
  } catch (...) {
    return 1;
  }
}

int RemoveService() noexcept {
  try {
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
      PrintFailure(L"OpenSCManager");
      return 1;
    }
    UniqueServiceHandle service(
        ::OpenServiceW(manager.Get(), ServiceNameW().c_str(), DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
      PrintFailure(L"OpenService");
      return 1;
    }
    int result = 0;
    SERVICE_STATUS status{};
    if (::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
      Print(L"Stopping " + DisplayNameW() + L".");
      ::Sleep(kStopPollMs);
      for (int polls = 0; ::QueryServiceStatus(service.Get(), &status) &&
                          status.dwCurrentState == SERVICE_STOP_PENDING && polls < kMaxStopPolls;
           ++polls) {
        Print(L".");
        ::Sleep(kStopPollMs);
      }
      if (status.dwCurrentState == SERVICE_STOPPED) {
        Print(L"\n" + DisplayNameW() + L" stopped.\n");
      } else {
        Print(L"\n" + DisplayNameW() + L" failed to stop.\n");
        result = 1;
      }
    }
    if (!::DeleteService(service.Get())) {
      PrintFailure(L"DeleteService");
      return 1;
    }
    Print(DisplayNameW() + L" removed.\n");
    return result;
  } catch (...) {
    return 1;
  }
}

}  // namespace veltrona::service
