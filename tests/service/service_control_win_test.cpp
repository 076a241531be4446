// What the service reports to the service control manager over its life,
// watched through the status calls.
#include "service/service_control_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace veltrona::service {
namespace {

std::mutex g_lock;
std::vector<SERVICE_STATUS> g_reports;
LPHANDLER_FUNCTION g_handler = nullptr;
const auto kFakeHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5EED);

SERVICE_STATUS_HANDLE WINAPI FakeRegister(LPCWSTR name, LPHANDLER_FUNCTION handler) {
  EXPECT_STREQ(name, L"VeltronaVPNService");
  g_handler = handler;
  return kFakeHandle;
}

SERVICE_STATUS_HANDLE WINAPI FailingRegister(LPCWSTR, LPHANDLER_FUNCTION) { return nullptr; }

BOOL WINAPI FakeSetStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
  EXPECT_EQ(handle, kFakeHandle);
  std::lock_guard lock(g_lock);
  g_reports.push_back(*status);
  return TRUE;
}

std::vector<SERVICE_STATUS> Reports() {
  std::lock_guard lock(g_lock);
  return g_reports;
}

bool WaitForReports(size_t count) {
  for (int i = 0; i < 400; ++i) {
    if (Reports().size() >= count) return true;
    ::Sleep(25);
  }
  return false;
}

class ServiceStatusSequence : public ::testing::Test {
 protected:
  void SetUp() override {
    g_reports.clear();
    g_handler = nullptr;
  }
  void TearDown() override { SetScmApi(ScmApi{}); }
};

TEST_F(ServiceStatusSequence, StartRunStopWithIncreasingCheckPoints) {
  SetScmApi(ScmApi{&FakeRegister, &FakeSetStatus});
  std::thread service([] { ServiceMain(0, nullptr); });
  ASSERT_TRUE(WaitForReports(2));
  ASSERT_NE(g_handler, nullptr);
  g_handler(SERVICE_CONTROL_INTERROGATE);
  ASSERT_TRUE(WaitForReports(3));
  g_handler(SERVICE_CONTROL_STOP);
  service.join();

  const std::vector<SERVICE_STATUS> reports = Reports();
  ASSERT_EQ(reports.size(), 6u);
  struct Expected {
    DWORD state, accepted, check_point, wait_hint;
  };
  const Expected expected[] = {
      {SERVICE_START_PENDING, 0, 1, 3000},            // ServiceMain begins
      {SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0},   // worker is up
      {SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0},   // answer to interrogate
      {SERVICE_STOP_PENDING, SERVICE_ACCEPT_STOP, 2, 0},
      {SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, 0},   // worker's last step
      {SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, 0},   // ServiceMain repeats it
  };
  for (size_t i = 0; i < reports.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(reports[i].dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(reports[i].dwCurrentState, expected[i].state);
    EXPECT_EQ(reports[i].dwControlsAccepted, expected[i].accepted);
    EXPECT_EQ(reports[i].dwCheckPoint, expected[i].check_point);
    EXPECT_EQ(reports[i].dwWaitHint, expected[i].wait_hint);
    EXPECT_EQ(reports[i].dwWin32ExitCode, 0u);
    EXPECT_EQ(reports[i].dwServiceSpecificExitCode, 0u);
  }
}

TEST_F(ServiceStatusSequence, FailedRegistrationEndsWithoutAnyReport) {
  SetScmApi(ScmApi{&FailingRegister, &FakeSetStatus});
  ServiceMain(0, nullptr);
  EXPECT_TRUE(Reports().empty());
}

}  // namespace
}  // namespace veltrona::service
