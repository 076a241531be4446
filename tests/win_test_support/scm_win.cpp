#include "tests/win_test_support/scm_win.h"

#include "base/unique_handle_win.h"

namespace veltrona::test_support {

namespace {

UniqueServiceHandle OpenManager() {
  return UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

UniqueServiceHandle OpenNamed(SC_HANDLE manager, const std::wstring& name) {
  return UniqueServiceHandle(::OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS));
}

}  // namespace

std::optional<ServiceConfig> QueryServiceConfiguration(const std::wstring& name) {
  UniqueServiceHandle manager = OpenManager();
  UniqueServiceHandle service = OpenNamed(manager.Get(), name);
  if (!service) return std::nullopt;
  DWORD needed = 0;
  ::QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
  std::vector<unsigned char> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!::QueryServiceConfigW(service.Get(), config, needed, &needed)) return std::nullopt;
  ServiceConfig result;
  result.display_name = config->lpDisplayName ? config->lpDisplayName : L"";
  result.type = config->dwServiceType;
  result.start_type = config->dwStartType;
  result.error_control = config->dwErrorControl;
  result.binary_path = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
  result.account = config->lpServiceStartName ? config->lpServiceStartName : L"";
  for (const wchar_t* p = config->lpDependencies; p && *p; p += wcslen(p) + 1) result.dependencies.emplace_back(p);
  if (result.dependencies.empty()) {
    // Wine's QueryServiceConfigW leaves the list out; the service control
    // manager keeps it in the service's key, as Windows does.
    const std::wstring key = L"System\\CurrentControlSet\\Services\\" + name;
    wchar_t list[512] = {};
    DWORD size = sizeof list - sizeof(wchar_t) * 2;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DependOnService", RRF_RT_REG_MULTI_SZ, nullptr, list,
                       &size) == ERROR_SUCCESS) {
      for (const wchar_t* p = list; *p; p += wcslen(p) + 1) result.dependencies.emplace_back(p);
    }
  }
  return result;
}

DWORD QueryServiceState(const std::wstring& name) {
  UniqueServiceHandle manager = OpenManager();
  UniqueServiceHandle service = OpenNamed(manager.Get(), name);
  SERVICE_STATUS status{};
  if (!service || !::QueryServiceStatus(service.Get(), &status)) return 0;
  return status.dwCurrentState;
}

DWORD QueryServiceProcessId(const std::wstring& name) {
  UniqueServiceHandle manager = OpenManager();
  UniqueServiceHandle service = OpenNamed(manager.Get(), name);
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!service || !::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                          sizeof status, &needed)) {
    return 0;
  }
  return status.dwProcessId;
}

bool WaitForServiceState(const std::wstring& name, DWORD state, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (QueryServiceState(name) != state) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(50);
  }
  return true;
}

bool StopService(const std::wstring& name) {
  UniqueServiceHandle manager = OpenManager();
  UniqueServiceHandle service = OpenNamed(manager.Get(), name);
  SERVICE_STATUS status{};
  return service && ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
}

bool CreateAndStartService(const std::wstring& name, const std::wstring& binary_path) {
  UniqueServiceHandle manager = OpenManager();
  UniqueServiceHandle service(::CreateServiceW(manager.Get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                               SERVICE_ERROR_NORMAL, binary_path.c_str(), nullptr, nullptr, nullptr,
                                               nullptr, nullptr));
  return service && ::StartServiceW(service.Get(), 0, nullptr);
}

void RemoveServiceIfPresent(const std::wstring& name) {
  {
    UniqueServiceHandle manager = OpenManager();
    UniqueServiceHandle service = OpenNamed(manager.Get(), name);
    if (!service) return;
    SERVICE_STATUS status{};
    if (::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
      const ULONGLONG deadline = ::GetTickCount64() + 20000;
      while (::QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED &&
             ::GetTickCount64() < deadline) {
        ::Sleep(50);
      }
    }
    ::DeleteService(service.Get());
  }
  const ULONGLONG deadline = ::GetTickCount64() + 20000;
  while (QueryServiceState(name) != 0 && ::GetTickCount64() < deadline) ::Sleep(50);
}

}  // namespace veltrona::test_support
