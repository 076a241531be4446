// The service program run by hand: usage, install and remove, against the
// test prefix's real service control manager.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/system_error.h"
#include "base/system_error_win.h"
#include "base/wide_text.h"
#include "service/service_log_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/scm_win.h"

namespace veltrona {
namespace {

namespace fs = std::filesystem;
using service::ServiceLogPath;
using test_support::BinFolder;
using test_support::kServiceName;
using test_support::RunProgram;

constexpr char kUsage[] =
    "VeltronaVPNsrv -install          to install the service\r\n"
    "VeltronaVPNsrv -remove           to remove the service\r\n";

std::wstring ServiceProgram() { return BinFolder() + L"VeltronaVPNsrv.exe"; }

// What the console shows for a failed step: the system's text for `code`.
std::string FailureText(const char* what, DWORD code) {
  const std::u16string text = FormatSystemErrorText(ToU16(SystemMessageText(code)), code);
  return std::string(what) + " failed - " + std::string(text.begin(), text.end()) + "\r\n";
}

// The service's log, in the folder that the installation creates.
std::string ServiceLogText() {
  std::ifstream file(fs::path(ServiceLogPath()), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class ServiceCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    test_support::RemoveServiceIfPresent(kServiceName);
    fs::create_directories(fs::path(ServiceLogPath()).parent_path());
  }
  void TearDown() override {
    test_support::RemoveServiceIfPresent(kServiceName);
    fs::remove_all(fs::path(ServiceLogPath()).parent_path());
  }
};

TEST_F(ServiceCommandLine, AnythingButASwitchPrintsUsageAndInstallsNothing) {
  for (const wchar_t* arguments : {L"", L"install", L"-bogus", L"--install", L"/installer", L"remove"}) {
    SCOPED_TRACE(test_support::UniqueSuffix());
    const auto result = RunProgram(ServiceProgram(), arguments);
    EXPECT_EQ(result.output, kUsage) << "arguments: " << std::string(arguments, arguments + wcslen(arguments));
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(test_support::QueryServiceState(kServiceName), 0u);
  }
}

TEST_F(ServiceCommandLine, InstallRegistersAndStartsTheService) {
  const auto result = RunProgram(ServiceProgram(), L"-install");
  EXPECT_EQ(result.output, "VeltronaVPN Service installed.\r\nService Started\r\n");
  EXPECT_EQ(result.exit_code, 0u);

  const auto config = test_support::QueryServiceConfiguration(kServiceName);
  ASSERT_TRUE(config.has_value());
  EXPECT_EQ(config->display_name, L"VeltronaVPN Service");
  EXPECT_EQ(config->type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config->start_type, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config->error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_THAT(config->dependencies, ::testing::ElementsAre(L"tap0901", L"Dhcp"));
  // The path is quoted, so that one with blanks cannot be read as a
  // shorter program path.
  const std::wstring quoted = L"\"" + ServiceProgram() + L"\"";
  EXPECT_TRUE(_wcsicmp(config->binary_path.c_str(), quoted.c_str()) == 0)
      << std::string(config->binary_path.begin(), config->binary_path.end());
  EXPECT_EQ(config->account, L"LocalSystem");
  EXPECT_TRUE(test_support::WaitForServiceState(kServiceName, SERVICE_RUNNING));
}

TEST_F(ServiceCommandLine, SwitchIsMatchedWithoutRegardToCaseAfterASlash) {
  const auto result = RunProgram(ServiceProgram(), L"/InStAlL");
  EXPECT_EQ(result.output, "VeltronaVPN Service installed.\r\nService Started\r\n");
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_TRUE(test_support::WaitForServiceState(kServiceName, SERVICE_RUNNING));
}

TEST_F(ServiceCommandLine, InstallingTwiceReportsTheSystemsError) {
  ASSERT_EQ(RunProgram(ServiceProgram(), L"-install").exit_code, 0u);
  const auto result = RunProgram(ServiceProgram(), L"-install");
  EXPECT_EQ(result.output, FailureText("CreateService", ERROR_SERVICE_EXISTS));
  EXPECT_THAT(result.output, ::testing::EndsWith(" (0x431)\r\n"));
  EXPECT_EQ(result.exit_code, 1u);
}

TEST_F(ServiceCommandLine, RemoveStopsARunningServiceFirst) {
  ASSERT_EQ(RunProgram(ServiceProgram(), L"-install").exit_code, 0u);
  ASSERT_TRUE(test_support::WaitForServiceState(kServiceName, SERVICE_RUNNING));
  const auto result = RunProgram(ServiceProgram(), L"-remove");
  EXPECT_EQ(result.output,
            "Stopping VeltronaVPN Service.\r\n"
            "VeltronaVPN Service stopped.\r\n"
            "VeltronaVPN Service removed.\r\n");
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_TRUE(test_support::WaitForServiceState(kServiceName, 0));
  EXPECT_EQ(ServiceLogText(),
            "Service started\r\n"
            "Service is waiting for events\r\n"
            "System requesting service shutdown\r\n");
}

TEST_F(ServiceCommandLine, RemoveOfAStoppedServiceOnlyDeletesIt) {
  ASSERT_EQ(RunProgram(ServiceProgram(), L"-install").exit_code, 0u);
  ASSERT_TRUE(test_support::WaitForServiceState(kServiceName, SERVICE_RUNNING));
  ASSERT_TRUE(test_support::StopService(kServiceName));
  ASSERT_TRUE(test_support::WaitForServiceState(kServiceName, SERVICE_STOPPED));
  const auto result = RunProgram(ServiceProgram(), L"-remove");
  EXPECT_EQ(result.output, "VeltronaVPN Service removed.\r\n");
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_TRUE(test_support::WaitForServiceState(kServiceName, 0));
}

TEST_F(ServiceCommandLine, RemovePrintsADotForEachFurtherSecondOfStopping) {
  ASSERT_TRUE(test_support::CreateAndStartService(kServiceName, test_support::PeerProgram(L"slow_stop_service")));
  ASSERT_TRUE(test_support::WaitForServiceState(kServiceName, SERVICE_RUNNING));
  const auto result = RunProgram(ServiceProgram(), L"-remove");
  EXPECT_THAT(result.output, ::testing::MatchesRegex("Stopping VeltronaVPN Service\\.\\.+\r\n"
                                                     "VeltronaVPN Service stopped\\.\r\n"
                                                     "VeltronaVPN Service removed\\.\r\n"));
  EXPECT_EQ(result.exit_code, 0u);
}

TEST_F(ServiceCommandLine, RemoveWithoutServiceReportsOpenServiceFailure) {
  const auto result = RunProgram(ServiceProgram(), L"-remove");
  EXPECT_EQ(result.output, FailureText("OpenService", ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(result.exit_code, 1u);
}

}  // namespace
}  // namespace veltrona
