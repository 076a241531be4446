// The guard against a made-up route table: what it logs, what it deletes,
// and that every deleted route comes back, also after a crash.
#include "service/route_guard_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace veltrona::service {
namespace {

constexpr DWORD Ip(BYTE a, BYTE b, BYTE c, BYTE d) {
  return static_cast<DWORD>(a) | static_cast<DWORD>(b) << 8 | static_cast<DWORD>(c) << 16 |
         static_cast<DWORD>(d) << 24;
}

MIB_IPFORWARDROW Row(DWORD destination, DWORD mask, DWORD next_hop, DWORD interface_index) {
  MIB_IPFORWARDROW row{};
  row.dwForwardDest = destination;
  row.dwForwardMask = mask;
  row.dwForwardNextHop = next_hop;
  row.dwForwardIfIndex = interface_index;
  row.dwForwardType = 4;
  row.dwForwardProto = 3;
  row.dwForwardMetric1 = 25;
  return row;
}

bool SameRow(const MIB_IPFORWARDROW& a, const MIB_IPFORWARDROW& b) { return memcmp(&a, &b, sizeof a) == 0; }

class FakeRouteTable : public RouteTableApi {
 public:
  DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL) override {
    const ULONG needed = static_cast<ULONG>(offsetof(MIB_IPFORWARDTABLE, table) + rows.size() * sizeof(MIB_IPFORWARDROW));
    if (rows.empty()) return ERROR_NO_DATA;
    if (table == nullptr || *size < needed) {
      *size = needed;
      return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) table->table[i] = rows[i];
    return NO_ERROR;
  }
  DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW* row) override {
    deleted.push_back(*row);
    for (auto it = rows.begin(); it != rows.end(); ++it) {
      if (SameRow(*it, *row)) {
        rows.erase(it);
        return NO_ERROR;
      }
    }
    return ERROR_NOT_FOUND;
  }
  DWORD CreateIpForwardEntry(MIB_IPFORWARDROW* row) override {
    if (refuse_create) return ERROR_ACCESS_DENIED;
    for (const auto& existing : rows) {
      if (SameRow(existing, *row)) return ERROR_OBJECT_ALREADY_EXISTS;
    }
    rows.push_back(*row);
    return NO_ERROR;
  }

  std::vector<MIB_IPFORWARDROW> rows;
  std::vector<MIB_IPFORWARDROW> deleted;
  bool refuse_create = false;
};

class RecordingSink : public LogSink {
 public:
  explicit RecordingSink(std::string* text) : text_(text) {}
  void WriteAll(std::string_view bytes) override { text_->append(bytes); }

 private:
  std::string* text_;
};

class RouteGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("veltrona-routes-" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::create_directories(folder_);
    journal_ = (folder_ / "routes.journal").wstring();
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::unique_ptr<RouteGuard> MakeGuard() { return std::make_unique<RouteGuard>(log_, table_, journal_); }

  const MIB_IPFORWARDROW local_ = Row(0, 0, Ip(192, 168, 1, 1), 7);
  const MIB_IPFORWARDROW wifi_ = Row(0, 0, Ip(172, 16, 0, 1), 9);
  const MIB_IPFORWARDROW tunnel_ = Row(0, 0, Ip(10, 235, 0, 1), 12);
  const MIB_IPFORWARDROW lan_ = Row(Ip(192, 168, 1, 0), Ip(255, 255, 255, 0), Ip(192, 168, 1, 5), 7);

  std::filesystem::path folder_;
  std::wstring journal_;
  std::string text_;
  ServiceLog log_{std::make_unique<RecordingSink>(&text_)};
  FakeRouteTable table_;
};

TEST_F(RouteGuardTest, WithoutTheTunnelRouteNothingIsDeleted) {
  table_.rows = {lan_, local_};
  MakeGuard()->CheckRoutes();
  EXPECT_EQ(text_, "Checking route table\r\nOpenVPN route not found\r\n");
  EXPECT_TRUE(table_.deleted.empty());
}

TEST_F(RouteGuardTest, EmptyTableEndsAfterTheFirstLine) {
  MakeGuard()->CheckRoutes();
  EXPECT_EQ(text_, "Checking route table\r\n");
}

TEST_F(RouteGuardTest, TunnelAloneIsOnlyCheckedAndRepeatsAreFolded) {
  table_.rows = {lan_, tunnel_};
  auto guard = MakeGuard();
  guard->CheckRoutes();
  guard->CheckRoutes();
  guard->CheckRoutes();
  EXPECT_EQ(text_, "Checking route table\r\nMessage repetitions suppressed\r\n");
  EXPECT_TRUE(table_.deleted.empty());
}

TEST_F(RouteGuardTest, ExtraDefaultRoutesAreDeletedInTableOrderAndComeBackAfterTheTunnel) {
  table_.rows = {local_, lan_, tunnel_, wifi_};
  auto guard = MakeGuard();
  guard->CheckRoutes();
  EXPECT_EQ(text_, "Checking route table\r\nExtra routes detected! Deletion in progress\r\n");
  ASSERT_EQ(table_.deleted.size(), 2u);
  EXPECT_TRUE(SameRow(table_.deleted[0], local_));
  EXPECT_TRUE(SameRow(table_.deleted[1], wifi_));
  EXPECT_TRUE(std::filesystem::exists(journal_));

  // The tunnel goes down.
  table_.rows = {lan_};
  text_.clear();
  guard->RestoreRoutes();
  EXPECT_EQ(text_,
            "Route restored: 0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7\r\n"
            "Route restored: 0.0.0.0 mask 0.0.0.0 via 172.16.0.1 on interface 9\r\n");
  ASSERT_EQ(table_.rows.size(), 3u);
  EXPECT_TRUE(SameRow(table_.rows[1], local_));
  EXPECT_TRUE(SameRow(table_.rows[2], wifi_));
  EXPECT_FALSE(std::filesystem::exists(journal_));

  // Nothing is restored twice.
  text_.clear();
  guard->RestoreRoutes();
  EXPECT_EQ(text_, "");
}

TEST_F(RouteGuardTest, ARestartedServiceRestoresWhatACrashedOneDeleted) {
  table_.rows = {local_, tunnel_};
  MakeGuard()->CheckRoutes();  // and the service dies here
  table_.rows = {};
  text_.clear();
  auto next_run = MakeGuard();
  next_run->RestoreRoutes();
  EXPECT_EQ(text_, "Route restored: 0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7\r\n");
  ASSERT_EQ(table_.rows.size(), 1u);
  EXPECT_TRUE(SameRow(table_.rows[0], local_));
}

TEST_F(RouteGuardTest, ARouteThatCannotBeRestoredStaysInTheJournal) {
  table_.rows = {local_, tunnel_};
  auto guard = MakeGuard();
  guard->CheckRoutes();
  table_.rows = {};
  table_.refuse_create = true;
  text_.clear();
  guard->RestoreRoutes();
  EXPECT_EQ(text_, "Failed to restore route 0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7\r\nHRESULT 0x00000005\r\n");
  table_.refuse_create = false;
  text_.clear();
  MakeGuard()->RestoreRoutes();
  EXPECT_EQ(text_, "Route restored: 0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7\r\n");
}

TEST_F(RouteGuardTest, ARouteThatIsBackAlreadyIsDroppedFromTheJournal) {
  table_.rows = {local_, tunnel_};
  auto guard = MakeGuard();
  guard->CheckRoutes();
  table_.rows = {local_};  // the system put it back itself
  text_.clear();
  guard->RestoreRoutes();
  EXPECT_EQ(text_, "Route already present: 0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7\r\n");
  EXPECT_TRUE(guard->deleted_routes().empty());
}

TEST_F(RouteGuardTest, ARouteDeletedAgainAndAgainIsJournaledOnce) {
  table_.rows = {local_, tunnel_};
  auto guard = MakeGuard();
  guard->CheckRoutes();
  table_.rows = {local_, tunnel_};  // the system re-added it
  guard->CheckRoutes();
  EXPECT_EQ(guard->deleted_routes().size(), 1u);
}

}  // namespace
}  // namespace veltrona::service
