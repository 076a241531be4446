// The guard against a made-up route table: what it logs, what it deletes,
// that every deleted route comes back, also after a crash, and that only a
// journal the service wrote itself is replayed.
#include "service/route_guard_win.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "service/security_win.h"
#include "tests/route_rows.h"
#include "tests/win_test_support/links_win.h"

namespace veltrona::service {
namespace {

using test_support::Ip;
using test_support::SameRow;
using test_support::PlatformRoute;

class FakeRouteTable : public RouteTableApi {
 public:
  DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL) override {
    return test_support::CopyForwardTable(rows, table, size);
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
    const std::wstring name = L"veltrona-routes-" + std::to_wstring(::GetCurrentProcessId());
    service_folder_ = ServiceFolder::Prepare(std::filesystem::temp_directory_path().wstring(), name);
    ASSERT_TRUE(service_folder_.usable()) << service_folder_.failure();
    folder_ = service_folder_.path();
    journal_ = (folder_ / "routes.journal").wstring();
  }
  void TearDown() override {
    service_folder_ = ServiceFolder();
    std::filesystem::remove_all(folder_);
  }

  std::unique_ptr<RouteGuard> MakeGuard() { return std::make_unique<RouteGuard>(log_, table_, service_folder_); }

  // What a crashed service left: its journal of the local route.
  void LeaveJournalOfLocalRoute() {
    table_.rows = {local_, tunnel_};
    MakeGuard()->CheckRoutes();
    table_.rows = {};
    text_.clear();
  }

  const MIB_IPFORWARDROW local_ = PlatformRoute(0, 0, Ip(192, 168, 1, 1), 7);
  const MIB_IPFORWARDROW wifi_ = PlatformRoute(0, 0, Ip(172, 16, 0, 1), 9);
  const MIB_IPFORWARDROW tunnel_ = PlatformRoute(0, 0, Ip(10, 235, 0, 1), 12);
  const MIB_IPFORWARDROW lan_ = PlatformRoute(Ip(192, 168, 1, 0), Ip(255, 255, 255, 0), Ip(192, 168, 1, 5), 7);

  ServiceFolder service_folder_;
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

// Replayed routes are added as SYSTEM, so a journal that others could have
// written, or that is only a name for another file, is not replayed.
TEST_F(RouteGuardTest, AJournalOthersMayWriteIsIgnoredAndRemoved) {
  LeaveJournalOfLocalRoute();
  UniqueSecurityDescriptor open_to_all = DescriptorFromSddl(L"D:(A;;FA;;;WD)");
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(open_to_all.Get(), &present, &dacl, &defaulted));
  ASSERT_EQ(::SetNamedSecurityInfoW(journal_.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    dacl, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  MakeGuard()->RestoreRoutes();
  EXPECT_EQ(text_, "Route journal ignored: its access list lets other accounts change it\r\n");
  EXPECT_TRUE(table_.rows.empty());
  EXPECT_FALSE(std::filesystem::exists(journal_));
}

TEST_F(RouteGuardTest, AJournalWithASecondNameIsIgnored) {
  LeaveJournalOfLocalRoute();
  const std::wstring other_name = folder_.parent_path() / L"veltrona-routes-other-name";
  std::filesystem::remove(other_name);
  ASSERT_TRUE(::CreateHardLinkW(other_name.c_str(), journal_.c_str(), nullptr));
  MakeGuard()->RestoreRoutes();
  EXPECT_EQ(text_, "Route journal ignored: it has other names (hard links)\r\n");
  EXPECT_TRUE(table_.rows.empty());
  // Only the journal's own name went.
  EXPECT_FALSE(std::filesystem::exists(journal_));
  EXPECT_TRUE(std::filesystem::exists(other_name));
  std::filesystem::remove(other_name);
}

TEST_F(RouteGuardTest, AJournalThatIsALinkIsIgnoredAndItsTargetKept) {
  // A journal elsewhere that the link would have the service replay.
  const std::filesystem::path elsewhere = folder_.parent_path() / L"veltrona-routes-elsewhere";
  std::filesystem::remove_all(elsewhere);
  std::filesystem::create_directories(elsewhere);
  LeaveJournalOfLocalRoute();
  std::filesystem::rename(journal_, elsewhere / "routes.journal");
  if (!test_support::MakeFileLink(journal_, (elsewhere / "routes.journal").wstring())) {
    GTEST_SKIP() << "symbolic links cannot be made here";
  }
  MakeGuard()->RestoreRoutes();
  // Windows opens the link itself; Wine follows it and the path gives it away.
  const std::string first_line = text_.substr(0, text_.find("\r\n"));
  EXPECT_TRUE(first_line == "Route journal ignored: it is a link" ||
              first_line == "Route journal ignored: it is reached through a link")
      << text_;
  EXPECT_TRUE(table_.rows.empty());
  EXPECT_TRUE(std::filesystem::exists(elsewhere / "routes.journal"));
  test_support::RemoveFileLink(journal_);
  std::filesystem::remove_all(elsewhere);
}

}  // namespace
}  // namespace veltrona::service
