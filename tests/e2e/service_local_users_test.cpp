// Another local user against the running service: objects made first under
// the service's names, a client that connects and says nothing, an open
// request nobody asked for, and a disconnect that comes close on a connect.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "ipc/protocol.h"
#include "ipc/senders_win.h"
#include "tests/win_test_support/pipe_client_win.h"
#include "tests/win_test_support/service_fixture_win.h"

namespace veltrona {
namespace {

using test_support::ClientPresence;
using test_support::CountOccurrences;
using test_support::InstalledService;

bool WaitForNoOpenVpn(DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (test_support::CountProcesses(L"openvpn.exe") != 0) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(50);
  }
  return true;
}

// One whole connection of a client that holds its mutex.
void ConnectAndDisconnect(size_t number) {
  ASSERT_EQ(ipc::RequestServiceStart(), ipc::StartRequest::kRequested) << InstalledService::LogText();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN is fired. Waiting for events", 20000, number))
      << InstalledService::LogText();
  ASSERT_TRUE(InstalledService::WaitForOpenVpnReady()) << InstalledService::LogText();
  ipc::SignalOpenVpnExit();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN process terminated", 20000, number)) << InstalledService::LogText();
}

TEST(ServiceAgainstLocalUsers, ObjectsMadeFirstUnderItsNamesAreNotUsedAndTheServiceStillStops) {
  UniqueKernelHandle open_squat;
  UniqueKernelHandle exit_squat;
  UniqueKernelHandle sync_squat;
  InstalledService service(L"", [&] {
    open_squat.Reset(::CreateSemaphoreW(nullptr, 0, 1, L"Global\\VTOpenVPNOpen"));
    exit_squat.Reset(::CreateMutexW(nullptr, FALSE, L"Global\\VTOpenVPNExit"));
    sync_squat.Reset(::CreateEventW(nullptr, FALSE, FALSE, L"Global\\VTOpenVPNSync"));
  });
  ASSERT_TRUE(open_squat && exit_squat && sync_squat);
  ASSERT_TRUE(service.running()) << InstalledService::LogText();
  ASSERT_TRUE(InstalledService::WaitForLog("Create sync event failed: Global\\VTOpenVPNSync already existed; another "
                                           "program made it\r\nHRESULT 0x000000b7"))
      << InstalledService::LogText();
  ASSERT_TRUE(InstalledService::WaitForLog(
      "CreateEvent(&sa, FALSE, FALSE, OPENVPN_OPEN) failed: Global\\VTOpenVPNOpen exists and is not an event\r\n"
      "HRESULT 0x00000006"));
  ASSERT_TRUE(InstalledService::WaitForLog("Create exit event failed: Global\\VTOpenVPNExit exists and is not an event"));

  {
    // A client now gets no answer through the stranger's sync event, and
    // nothing starts; the pipe is still served.
    ClientPresence client;
    ipc::Endpoints endpoints = ipc::Endpoints::Default();
    endpoints.sync_timeout_ms = 1500;
    EXPECT_EQ(ipc::RequestServiceStart(endpoints, *ClientDataFolder()), ipc::StartRequest::kNoAnswer);
    ASSERT_TRUE(ipc::RequestRouteCheck());
    ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN route not found"));
  }
  EXPECT_EQ(InstalledService::LogText().find("OpenVPN is fired"), std::string::npos);

  // Once the stranger's objects are gone, the service makes its own and
  // works as before.
  open_squat.Reset();
  exit_squat.Reset();
  sync_squat.Reset();
  ASSERT_TRUE(InstalledService::WaitForLog("Global\\VTOpenVPNOpen created", 15000)) << InstalledService::LogText();
  ASSERT_TRUE(InstalledService::WaitForLog("Global\\VTOpenVPNExit created"));
  ASSERT_TRUE(InstalledService::WaitForLog("Global\\VTOpenVPNSync created"));
  {
    ClientPresence client;
    ConnectAndDisconnect(1);
  }

  // Squatted again while the service runs and holds its own: the names are
  // taken, so the stranger gets nothing.
  UniqueKernelHandle late(::CreateSemaphoreW(nullptr, 0, 1, L"Global\\VTOpenVPNExit"));
  EXPECT_FALSE(late);
  const ULONGLONG stop_started = ::GetTickCount64();
  EXPECT_TRUE(service.Stop());
  EXPECT_LT(::GetTickCount64() - stop_started, 10000u);
}

TEST(ServiceAgainstLocalUsers, WithoutItsOwnExitEventNoOpenVpnIsStarted) {
  // OpenVPN started now could never be told to exit.
  UniqueMutex squat;
  InstalledService service(L"", [&] { squat.Reset(::CreateMutexW(nullptr, FALSE, L"Global\\VTOpenVPNExit")); });
  ASSERT_TRUE(service.running() && squat) << InstalledService::LogText();
  ClientPresence client;
  ASSERT_EQ(ipc::RequestServiceStart(), ipc::StartRequest::kRequested);
  ASSERT_TRUE(InstalledService::WaitForLog("The exit event for OpenVPN is not available; OpenVPN is not started"))
      << InstalledService::LogText();
  EXPECT_EQ(InstalledService::LogText().find("OpenVPN is fired"), std::string::npos);
  EXPECT_EQ(test_support::CountProcesses(L"openvpn.exe"), 0u);
}

TEST(ServiceAgainstLocalUsers, AClientMutexNameTakenByAnotherKindOfObjectStartsNothing) {
  InstalledService service;
  ASSERT_TRUE(service.running()) << InstalledService::LogText();
  UniqueEvent squat(::CreateEventW(nullptr, TRUE, FALSE, L"Global\\VeltronaIsOpened"));
  ASSERT_TRUE(squat);
  ASSERT_EQ(ipc::RequestServiceStart(), ipc::StartRequest::kRequested);
  ASSERT_TRUE(InstalledService::WaitForLog(
      "Global\\VeltronaIsOpened is not a mutex; another program made it; OpenVPN is not started"))
      << InstalledService::LogText();
  EXPECT_EQ(InstalledService::LogText().find("OpenVPN is fired"), std::string::npos);
  const ULONGLONG stop_started = ::GetTickCount64();
  EXPECT_TRUE(service.Stop());
  EXPECT_LT(::GetTickCount64() - stop_started, 10000u);
}

class ServiceWithAttacker : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service_.running()) << InstalledService::LogText(); }
  InstalledService service_;
};

TEST_F(ServiceWithAttacker, ClientsThatConnectAndSayNothingDoNotKeepOthersOut) {
  std::atomic<bool> stop{false};
  std::atomic<int> silent_connections{0};
  // Two loops, each holding a pipe instance without writing, and connecting
  // again as soon as the service lets go of it.
  auto silent_loop = [&] {
    while (!stop) {
      UniquePipe pipe(::CreateFileW(L"\\\\.\\pipe\\VeltronaVPNCommunication", FILE_WRITE_DATA | SYNCHRONIZE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
      if (!pipe) continue;
      ++silent_connections;
      // Held longer than the service waits for a message.
      for (int i = 0; i < 75 && !stop; ++i) ::Sleep(20);
    }
  };
  std::thread first(silent_loop);
  std::thread second(silent_loop);
  ::Sleep(300);

  // Real requests over a few seconds, while the silent ones come and go.
  ClientPresence client;
  int route_checks = 0;
  for (int i = 0; i < 5; ++i) {
    route_checks += ipc::RequestRouteCheck() ? 1 : 0;
    ::Sleep(600);
  }
  ConnectAndDisconnect(1);
  stop = true;
  first.join();
  second.join();

  EXPECT_EQ(route_checks, 5);
  EXPECT_TRUE(InstalledService::WaitForLog("Checking route table", 20000, 5)) << InstalledService::LogText();
  // The silent ones lost their instance: about a second each.
  EXPECT_TRUE(InstalledService::WaitForLog("No data arrived from the pipe", 5000, 2)) << InstalledService::LogText();
  EXPECT_GE(silent_connections.load(), 3);
}

TEST_F(ServiceWithAttacker, AnOpenRequestCountsOnlyRightAfterTheClientsOwnPaths) {
  ClientPresence client;
  // Nobody sent paths: nothing starts.
  ASSERT_TRUE(test_support::SetOpenEvent());
  ASSERT_TRUE(InstalledService::WaitForLog("No data folder has been set; OpenVPN is not started"));

  // Paths sent by hand, and the open request made long after them.
  const auto folder = ClientDataFolder();
  ASSERT_EQ(test_support::WriteToPipe({test_support::CodeBytes(ipc::MSG_SET_PATH), test_support::SetPathBytes(*folder)}),
            2u);
  ASSERT_TRUE(test_support::WaitForSyncEvent(5000));
  ::Sleep(5500);
  ASSERT_TRUE(test_support::SetOpenEvent());
  ASSERT_TRUE(InstalledService::WaitForLog("The open request came too long after MSG_SET_PATH; OpenVPN is not started"))
      << InstalledService::LogText();

  // A real start, then someone else repeats its open request.
  ConnectAndDisconnect(1);
  ASSERT_TRUE(test_support::SetOpenEvent());
  ASSERT_TRUE(InstalledService::WaitForLog("The open request does not follow a new MSG_SET_PATH; OpenVPN is not started"))
      << InstalledService::LogText();
  EXPECT_EQ(CountOccurrences(InstalledService::LogText(), "OpenVPN is fired"), 1u);
}

TEST_F(ServiceWithAttacker, EveryDisconnectAfterAConnectEndsThatConnection) {
  ClientPresence client;
  std::mt19937 random(8122026);
  constexpr int kCycles = 12;
  for (int i = 0; i < kCycles; ++i) {
    ASSERT_EQ(ipc::RequestServiceStart(), ipc::StartRequest::kRequested) << i << InstalledService::LogText();
    // The disconnect comes before, while, or after OpenVPN starts.
    ::Sleep(random() % 250);
    ipc::SignalOpenVpnExit();
  }
  // Every OpenVPN that was started has ended, and none is left.
  ASSERT_TRUE(WaitForNoOpenVpn(20000)) << InstalledService::LogText();
  ::Sleep(500);
  const std::string log = InstalledService::LogText();
  EXPECT_EQ(CountOccurrences(log, "OpenVPN is fired"), CountOccurrences(log, "OpenVPN process terminated")) << log;
  EXPECT_EQ(CountOccurrences(log, "Connection tool requests Open VPN startup"), static_cast<size_t>(kCycles)) << log;
  EXPECT_EQ(test_support::CountProcesses(L"openvpn.exe"), 0u);
  // And the next connection is a normal one.
  const size_t fired = CountOccurrences(log, "OpenVPN is fired");
  ConnectAndDisconnect(fired + 1);
}

}  // namespace
}  // namespace veltrona
