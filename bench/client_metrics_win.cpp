// How the real client fares under Wine: time from process start to the main
// window shown (local configuration host), and marks around a minute
// disconnected and a minute connected at which the script samples the
// client's memory and CPU time.
// It installs the service with the OpenVPN stand-in, as the end-to-end tests
// do. Run by bench/client_metrics.sh; not part of the tests.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "client/resources/resource.h"
#include "tests/win_test_support/client_window_win.h"
#include "tests/win_test_support/config_host_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/registry_values_win.h"
#include "tests/win_test_support/service_fixture_win.h"

using namespace veltrona::test_support;

namespace {

constexpr unsigned short kConfigPort = 18994;
constexpr int kStartRuns = 5;
constexpr DWORD kCpuWindowMs = 60000;

// Wine reports neither the times nor the memory of another process (both
// read as 0), so the script that runs this samples the client's Unix process
// at each mark.
void Mark(const char* name) {
  std::printf("sample %s\n", name);
  std::fflush(stdout);
  ::Sleep(500);
}

int Fail(const char* what) {
  std::printf("client_metrics: %s\n", what);
  return 1;
}

}  // namespace

int wmain() {
  InstalledService service;
  if (!service.running()) return Fail("the service did not start");
  ConfigHost host(kConfigPort, DemoContent());
  if (!host.Listening()) return Fail("the configuration host did not start");
  if (!PointClientAtConfigHost(kConfigPort)) {
    return Fail("the configuration host cannot be set");
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kUserKey);

  std::vector<ULONGLONG> start_ms;
  for (int run = 0; run < kStartRuns; ++run) {
    const ULONGLONG started = ::GetTickCount64();
    ClientProcess client;
    const auto window = ClientWindow::Find();
    if (!window || !WaitFor([&] { return window->IsVisible(); }, 30000)) return Fail("no window");
    start_ms.push_back(::GetTickCount64() - started);
    window->TrayCommand(IDM_EXIT);
    if (!client.Ended()) return Fail("the client did not end");
  }
  std::sort(start_ms.begin(), start_ms.end());
  std::printf("start to window shown: median %llu ms (min %llu, max %llu, %d runs)\n", start_ms[kStartRuns / 2],
              start_ms.front(), start_ms.back(), kStartRuns);

  ClientProcess client;
  const auto window = ClientWindow::Find();
  if (!window || !WaitFor([&] { return window->IsVisible(); }, 30000)) return Fail("no window");
  ::Sleep(2000);
  Mark("idle-begin");
  ::Sleep(kCpuWindowMs);
  Mark("idle-end");

  if (!WaitFor([&] { return window->SelectServer(L"vpn-demo.example"); }, 10000)) return Fail("no server");
  window->SetText(IDC_VPN_ID, L"demo-id");
  window->SetText(IDC_ACTIVATION_CODE, L"demo-code");
  window->Click(IDC_CONNECT);
  if (!window->WaitForText(IDC_STATUS, L"connected")) return Fail("no connection");
  ::Sleep(2000);
  Mark("connected-begin");
  ::Sleep(kCpuWindowMs);
  Mark("connected-end");

  window->TrayCommand(IDM_EXIT);
  client.Ended();
  ForgetConfigHost();
  return 0;
}
