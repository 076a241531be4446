// Looking at and cleaning up services in the test prefix's service control
// manager.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace veltrona::test_support {

inline constexpr wchar_t kServiceName[] = L"VeltronaVPNService";

struct ServiceConfig {
  std::wstring display_name;
  DWORD type = 0;
  DWORD start_type = 0;
  DWORD error_control = 0;
  std::wstring binary_path;
  std::vector<std::wstring> dependencies;
  std::wstring account;
};

std::optional<ServiceConfig> QueryServiceConfiguration(const std::wstring& name);
// The service's current state, or 0 when it does not exist.
DWORD QueryServiceState(const std::wstring& name);
// The process the service runs in, or 0 when it does not exist or runs in none.
DWORD QueryServiceProcessId(const std::wstring& name);
bool WaitForServiceState(const std::wstring& name, DWORD state, DWORD timeout_ms = 20000);
bool StopService(const std::wstring& name);
bool CreateAndStartService(const std::wstring& name, const std::wstring& binary_path);
// Stops and deletes the service if it exists, and waits until it is gone.
void RemoveServiceIfPresent(const std::wstring& name);

}  // namespace veltrona::test_support
