// The running service's route guard against a route table kept in a file
// (the service program built with that table): deleted default routes come
// back when the tunnel goes down, and after the service was killed.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "ipc/senders_win.h"
#include "service/route_guard.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/scm_win.h"
#include "tests/win_test_support/service_fixture_win.h"

namespace veltrona {
namespace {

namespace fs = std::filesystem;
using service::RouteRow;
using test_support::ClientPresence;
using test_support::InstalledService;

constexpr uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return static_cast<uint32_t>(a) | static_cast<uint32_t>(b) << 8 | static_cast<uint32_t>(c) << 16 |
         static_cast<uint32_t>(d) << 24;
}

RouteRow Route(uint32_t destination, uint32_t mask, uint32_t next_hop, uint32_t interface_index) {
  RouteRow row;
  row.destination = destination;
  row.mask = mask;
  row.next_hop = next_hop;
  row.interface_index = interface_index;
  row.type = 4;
  row.protocol = 3;
  return row;
}

fs::path TableFile() {
  wchar_t folder[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  return fs::path(folder) / "Veltrona Test Routes" / "table.txt";
}

void WriteTable(const std::vector<RouteRow>& rows) {
  fs::create_directories(TableFile().parent_path());
  std::ofstream(TableFile(), std::ios::binary | std::ios::trunc) << service::EncodeRouteJournal(rows);
}

std::vector<RouteRow> ReadTable() {
  std::ifstream file(TableFile(), std::ios::binary);
  return service::DecodeRouteJournal(std::string(std::istreambuf_iterator<char>(file), {}));
}

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
  const std::vector<RouteRow> journal = {kLocal};
  InstalledService service(test_support::PeerProgram(L"service_with_fake_routes"), [&] {
    std::ofstream(fs::path(InstalledService::ServiceFolder()) / "routes.journal", std::ios::binary)
        << service::EncodeRouteJournal(journal);
  });
  ASSERT_TRUE(service.running());
  EXPECT_EQ(InstalledService::LogText(),
            "Service started\r\n"
            "Route restored: 0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7\r\n"
            "Service is waiting for events\r\n");
  EXPECT_EQ(ReadTable(), (std::vector<RouteRow>{kLan, kTunnel, kLocal}));
  EXPECT_FALSE(fs::exists(fs::path(InstalledService::ServiceFolder()) / "routes.journal"));
  fs::remove_all(TableFile().parent_path());
}

}  // namespace
}  // namespace veltrona
