// The running service's route guard against a route table kept in a file
// (the service program built with that table): deleted default routes come
// back when the tunnel goes down, and after the service was killed; a
// journal the service did not write itself is never replayed.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <aclapi.h>

#include "ipc/senders_win.h"
#include "service/route_guard.h"
#include "service/security_win.h"
#include "service/service_folder_win.h"
#include "tests/route_rows.h"
#include "tests/win_test_support/client_window_win.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/scm_win.h"
#include "tests/win_test_support/service_fixture_win.h"

namespace veltrona {
namespace {

namespace fs = std::filesystem;
using service::RouteRow;
using test_support::ClientPresence;
using test_support::InstalledService;

using test_support::Ip;
using test_support::Route;

fs::path TableFile() {
  return fs::path(test_support::KnownFolderPath(CSIDL_COMMON_APPDATA)) / "Veltrona Test Routes" / "table.txt";
}

void WriteTable(const std::vector<RouteRow>& rows) {
  fs::create_directories(TableFile().parent_path());
  std::ofstream(TableFile(), std::ios::binary | std::ios::trunc) << service::EncodeRouteJournal(rows);
}

std::vector<RouteRow> ReadTable() {
  std::ifstream file(TableFile(), std::ios::binary);
  return service::DecodeRouteJournal(std::string(std::istreambuf_iterator<char>(file), {}));
}

// Creates `path` (a folder, or a file holding `bytes`) with the access list
// `sddl`, as the service or a user would.
bool CreateWithAccessList(const fs::path& path, const wchar_t* sddl, const std::string* bytes) {
  UniqueSecurityDescriptor descriptor = service::DescriptorFromSddl(sddl);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
  if (bytes == nullptr) return ::CreateDirectoryW(path.c_str(), &attributes) != FALSE;
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, 0, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.Get(), bytes->data(), static_cast<DWORD>(bytes->size()), &written, nullptr);
}

// Gives everyone full access, as a user may to a folder or file they made.
bool OpenToEveryone(const fs::path& path) {
  UniqueSecurityDescriptor descriptor = service::DescriptorFromSddl(L"D:(A;OICI;FA;;;WD)");
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  std::wstring name = path.wstring();
  return ::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted) &&
         ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                 nullptr) == ERROR_SUCCESS;
}

fs::path JournalPath() { return fs::path(InstalledService::ServiceFolder()) / "routes.journal"; }

const RouteRow kLocal = Route(0, 0, Ip(192, 168, 1, 1), 7);
const RouteRow kLan = Route(Ip(192, 168, 1, 0), Ip(255, 255, 255, 0), Ip(192, 168, 1, 5), 7);
const RouteRow kTunnel = Route(0, Ip(128, 0, 0, 0), Ip(10, 235, 0, 1), 12);

class ServiceRouteGuard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { WriteTable({kLocal, kLan, kTunnel}); }
  static void TearDownTestSuite() { fs::remove_all(TableFile().parent_path()); }
  void SetUp() override {
    WriteTable({kLocal, kLan, kTunnel});
    service_ = std::make_unique<InstalledService>(test_support::PeerProgram(L"service_with_fake_routes"));
    ASSERT_TRUE(service_->running()) << InstalledService::LogText();
  }
  void TearDown() override { service_.reset(); }

  std::unique_ptr<InstalledService> service_;
};

TEST_F(ServiceRouteGuard, RoutesDeletedWhileConnectedComeBackAtDisconnect) {
  ClientPresence client;
  ASSERT_EQ(ipc::RequestServiceStart(), ipc::StartRequest::kRequested);
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN is fired. Waiting for events"));
  ASSERT_TRUE(InstalledService::WaitForOpenVpnReady()) << InstalledService::LogText() << InstalledService::OpenVpnOutput();
  ASSERT_TRUE(ipc::RequestRouteCheck());
  ASSERT_TRUE(InstalledService::WaitForLog("Extra routes detected! Deletion in progress"));
  // The line comes before the deletion, as its words say.
  EXPECT_TRUE(test_support::WaitFor([] { return ReadTable() == std::vector<RouteRow>{kLan, kTunnel}; }, 5000));
  EXPECT_EQ(ReadTable(), (std::vector<RouteRow>{kLan, kTunnel}));

  ipc::SignalOpenVpnExit();
  ASSERT_TRUE(InstalledService::WaitForLog("Route restored: 0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7"));
  EXPECT_NE(InstalledService::LogText().find("OpenVPN process terminated\r\n"
                                             "Route restored: 0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7\r\n"
                                             "Service is waiting for events\r\n"),
            std::string::npos)
      << InstalledService::LogText();
  EXPECT_EQ(ReadTable(), (std::vector<RouteRow>{kLan, kTunnel, kLocal}));
  EXPECT_FALSE(fs::exists(fs::path(InstalledService::ServiceFolder()) / "routes.journal"));
}

TEST(ServiceRouteGuardAfterACrash, TheNextStartRestoresWhatTheJournalHolds) {
  // What a service that died after deleting a route leaves behind: the route
  // missing from the table and its row in the journal. (Wine's service
  // control manager does not notice a killed service process, so the crash
  // itself cannot be staged here.)
  WriteTable({kLan, kTunnel});
  const std::string journal = service::EncodeRouteJournal(std::vector<RouteRow>{kLocal});
  InstalledService service(test_support::PeerProgram(L"service_with_fake_routes"), [&] {
    // The folder and journal as the service makes them.
    ASSERT_TRUE(CreateWithAccessList(InstalledService::ServiceFolder(), service::kServiceFolderSddl, nullptr));
    ASSERT_TRUE(CreateWithAccessList(JournalPath(), service::kPrivateFileSddl, &journal));
  });
  ASSERT_TRUE(service.running());
  EXPECT_EQ(InstalledService::LogText(),
            "Service started\r\n"
            "Route restored: 0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7\r\n"
            "Service is waiting for events\r\n");
  EXPECT_EQ(ReadTable(), (std::vector<RouteRow>{kLan, kTunnel, kLocal}));
  EXPECT_FALSE(fs::exists(JournalPath()));
  fs::remove_all(TableFile().parent_path());
}

// What a user would plant to have SYSTEM route the machine's traffic: a host
// route to 8.8.8.8 via 10.10.10.10 and a default route via 192.168.1.1.
const RouteRow kPlantedHost = Route(Ip(8, 8, 8, 8), Ip(255, 255, 255, 255), Ip(10, 10, 10, 10), 7);
const RouteRow kPlantedDefault = Route(0, 0, Ip(192, 168, 1, 1), 7);
const std::string kPlantedJournal = service::EncodeRouteJournal(std::vector<RouteRow>{kPlantedHost, kPlantedDefault});

TEST(ServiceRouteJournalPlanted, InAFolderUsersMayWriteItIsDroppedWithTheFolder) {
  WriteTable({kLan, kTunnel});
  InstalledService service(test_support::PeerProgram(L"service_with_fake_routes"), [] {
    // A user made the folder before the service first ran, open to all.
    ASSERT_TRUE(CreateWithAccessList(InstalledService::ServiceFolder(), L"D:(A;OICI;FA;;;WD)", nullptr));
    ASSERT_TRUE(OpenToEveryone(InstalledService::ServiceFolder()));
    ASSERT_TRUE(test_support::WriteWholeFile(JournalPath().wstring(), kPlantedJournal));
  });
  ASSERT_TRUE(service.running()) << InstalledService::LogText();
  const std::string log = InstalledService::LogText();
  EXPECT_NE(log.find("Service started\r\nService folder "), std::string::npos) << log;
  EXPECT_NE(log.find("was not safe to use (its access list lets other accounts change it); it is removed and made "
                     "anew\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Route restored"), std::string::npos) << log;
  EXPECT_EQ(ReadTable(), (std::vector<RouteRow>{kLan, kTunnel}));
  EXPECT_FALSE(fs::exists(JournalPath()));
  fs::remove_all(TableFile().parent_path());
}

TEST(ServiceRouteJournalPlanted, OneOthersMayWriteIsLoggedAndIgnored) {
  WriteTable({kLan, kTunnel});
  InstalledService service(test_support::PeerProgram(L"service_with_fake_routes"), [] {
    ASSERT_TRUE(CreateWithAccessList(InstalledService::ServiceFolder(), service::kServiceFolderSddl, nullptr));
    ASSERT_TRUE(CreateWithAccessList(JournalPath(), L"D:(A;;FA;;;WD)", &kPlantedJournal));
    ASSERT_TRUE(OpenToEveryone(JournalPath()));
  });
  ASSERT_TRUE(service.running()) << InstalledService::LogText();
  EXPECT_EQ(InstalledService::LogText(),
            "Service started\r\n"
            "Route journal ignored: its access list lets other accounts change it\r\n"
            "Service is waiting for events\r\n");
  EXPECT_EQ(ReadTable(), (std::vector<RouteRow>{kLan, kTunnel}));
  EXPECT_FALSE(fs::exists(JournalPath()));
  fs::remove_all(TableFile().parent_path());
}

}  // namespace
}  // namespace veltrona
