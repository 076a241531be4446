// The log file itself: where it lives, who may open it while the service
// writes, that each start begins it afresh, and that it is never written
// through something that was at its name before.
#include "service/service_log_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <shlobj.h>

#include "base/unique_handle_win.h"
#include "tests/win_test_support/files_win.h"

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

TEST_F(ServiceLogFile, StaysClosedWithoutAUsableFolder) {
  ServiceLog log = OpenServiceLog(ServiceFolder());
  EXPECT_FALSE(log.IsOpen());
  log.Write("Service started");
  EXPECT_FALSE(fs::exists(LogFolder()));
}

TEST_F(ServiceLogFile, OthersMayReadButNotWriteWhileTheServiceWrites) {
  const ServiceFolder folder = ServiceFolder::Prepare();
  ASSERT_TRUE(folder.usable()) << folder.failure();
  ServiceLog log = OpenServiceLog(folder);
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

TEST_F(ServiceLogFile, EachStartBeginsAnEmptyLogAndLeavesOtherNamesAlone) {
  const ServiceFolder folder = ServiceFolder::Prepare();
  ASSERT_TRUE(folder.usable()) << folder.failure();
  {
    ServiceLog first = OpenServiceLog(folder);
    first.Write("from the last run");
  }
  // A second name for the old log, as a user could make it to have the
  // service truncate or write what the name points to.
  const fs::path other_name = LogFolder().parent_path() / "Veltrona other name.txt";
  fs::remove(other_name);
  ASSERT_TRUE(::CreateHardLinkA(other_name.string().c_str(), ServiceLogPath().c_str(), nullptr));
  ServiceLog second = OpenServiceLog(folder);
  second.Write("Service started");
  second.Close();
  EXPECT_EQ(ReadShared(ServiceLogPath()), "Service started\r\n");
  EXPECT_EQ(test_support::ReadWholeFile(other_name.wstring()), "from the last run\r\n");
  fs::remove(other_name);
}

}  // namespace
}  // namespace veltrona::service
