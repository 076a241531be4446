// The log file itself: where it lives, who may open it while the service
// writes, and that each start begins it afresh.
#include "service/service_log_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <shlobj.h>

#include "base/unique_handle_win.h"

namespace veltrona::service {
namespace {

namespace fs = std::filesystem;

fs::path LogFolder() { return fs::path(ServiceLogPath()).parent_path(); }

std::string ReadShared(const std::string& path) {
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!file) return "<cannot open>";
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

class ServiceLogFile : public ::testing::Test {
 protected:
  void SetUp() override { fs::remove_all(LogFolder()); }
  void TearDown() override { fs::remove_all(LogFolder()); }
};

TEST_F(ServiceLogFile, LivesInTheMachineWideApplicationDataFolder) {
  char common[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common)));
  EXPECT_EQ(ServiceLogPath(), std::string(common) + "\\Veltrona VPN\\service.log");
}

TEST_F(ServiceLogFile, StaysClosedWithoutItsFolderAndDoesNotCreateIt) {
  ServiceLog log = OpenServiceLog();
  EXPECT_FALSE(log.IsOpen());
  log.Write("Service started");
  EXPECT_FALSE(fs::exists(LogFolder()));
}

TEST_F(ServiceLogFile, OthersMayReadButNotWriteWhileTheServiceWrites) {
  fs::create_directories(LogFolder());
  ServiceLog log = OpenServiceLog();
  ASSERT_TRUE(log.IsOpen());
  log.Write("Service started");
  log.Write("Service is waiting for events");
  // Written through at once: a reader sees every line while the log is open.
  EXPECT_EQ(ReadShared(ServiceLogPath()), "Service started\r\nService is waiting for events\r\n");
  UniqueFile writer(::CreateFileA(ServiceLogPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer.IsValid());
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(ServiceLogFile, EachStartBeginsAnEmptyLog) {
  fs::create_directories(LogFolder());
  {
    ServiceLog first = OpenServiceLog();
    first.Write("from the last run");
  }
  ServiceLog second = OpenServiceLog();
  second.Write("Service started");
  second.Close();
  EXPECT_EQ(ReadShared(ServiceLogPath()), "Service started\r\n");
}

}  // namespace
}  // namespace veltrona::service
