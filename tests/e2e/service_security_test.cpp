// What the service grants other local users on its objects, and the links it
// refuses to follow. Wine keeps security descriptors but does not enforce
// them, so these tests read back what was set; only Windows can show a
// refused open.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "ipc/management_port_win.h"
#include "ipc/protocol.h"
#include "ipc/senders_win.h"
#include "service/event_log_win.h"
#include "service/folder_trust.h"
#include "service/security_win.h"
#include "service/service_folder_win.h"
#include "tests/test_text.h"
#include "tests/win_test_support/links_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/scm_win.h"
#include "tests/win_test_support/service_fixture_win.h"

namespace veltrona {
namespace {

namespace fs = std::filesystem;
using test_support::InstalledService;

std::wstring DaclOf(HANDLE object, SE_OBJECT_TYPE type) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(object, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &descriptor) !=
      ERROR_SUCCESS) {
    return L"<none>";
  }
  UniqueSecurityDescriptor owned(descriptor);
  wchar_t* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, nullptr)) {
    return L"<unreadable>";
  }
  const UniqueLocalMemory text_memory(text);
  return text;
}

// The same descriptor, written the way the system writes it back.
std::wstring Normalised(const wchar_t* sddl) {
  UniqueSecurityDescriptor descriptor = service::DescriptorFromSddl(sddl);
  wchar_t* text = nullptr;
  if (!descriptor || !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                         descriptor.Get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"<invalid>";
  }
  const UniqueLocalMemory text_memory(text);
  return text;
}

using test_support::Ascii;

struct Rights {
  ACCESS_MASK allowed = 0;
  ACCESS_MASK denied = 0;
};

// What the descriptor's access list says about one well-known account.
Rights RightsOf(const wchar_t* sddl, WELL_KNOWN_SID_TYPE who) {
  Rights rights;
  UniqueSecurityDescriptor descriptor = service::DescriptorFromSddl(sddl);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!descriptor || !::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted) || !dacl) {
    return rights;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
      if (::IsWellKnownSid(&ace->SidStart, who)) rights.allowed |= ace->Mask;
    } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
      auto* ace = reinterpret_cast<ACCESS_DENIED_ACE*>(header);
      if (::IsWellKnownSid(&ace->SidStart, who)) rights.denied |= ace->Mask;
    }
  }
  return rights;
}

TEST(ServiceSecurityDescriptors, LocalUsersMayOnlyWriteThePipeAndUseTheEvents) {
  const Rights users = RightsOf(service::kPipeSddl, WinAuthenticatedUserSid);
  EXPECT_EQ(users.allowed & (FILE_WRITE_DATA | SYNCHRONIZE), static_cast<ACCESS_MASK>(FILE_WRITE_DATA | SYNCHRONIZE));
  EXPECT_EQ(users.allowed & (FILE_READ_DATA | FILE_CREATE_PIPE_INSTANCE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL), 0u);
  // Only the service's own account makes instances of the pipe; a user's
  // instance would receive other users' requests.
  EXPECT_EQ(RightsOf(service::kPipeSddl, WinWorldSid).allowed, 0u);
  EXPECT_EQ(RightsOf(service::kPipeSddl, WinBuiltinUsersSid).allowed, 0u);
  EXPECT_EQ(RightsOf(service::kPipeSddl, WinInteractiveSid).allowed, 0u);
  EXPECT_NE(RightsOf(service::kPipeSddl, WinLocalSystemSid).allowed & (GENERIC_ALL | FILE_CREATE_PIPE_INSTANCE), 0u);
  EXPECT_EQ(RightsOf(service::kPipeSddl, WinAnonymousSid).denied, static_cast<ACCESS_MASK>(GENERIC_ALL));
  EXPECT_EQ(RightsOf(service::kPipeSddl, WinNetworkSid).denied, static_cast<ACCESS_MASK>(GENERIC_ALL));

  const Rights event_users = RightsOf(service::kEventSddl, WinAuthenticatedUserSid);
  EXPECT_EQ(event_users.allowed, static_cast<ACCESS_MASK>(SYNCHRONIZE | EVENT_MODIFY_STATE));
  EXPECT_EQ(RightsOf(service::kEventSddl, WinNetworkSid).denied, static_cast<ACCESS_MASK>(GENERIC_ALL));
  EXPECT_EQ(RightsOf(service::kPrivateFolderSddl, WinAuthenticatedUserSid).allowed, 0u);
}

TEST(ServiceSecurityDescriptors, UsersMayReadTheLogAndChangeNothingInTheServiceFolder) {
  const ACCESS_MASK change = service::kChangeRights;
  for (const wchar_t* sddl : {service::kServiceFolderSddl, service::kServiceLogSddl, service::kPrivateFileSddl,
                              service::kPrivateFolderSddl}) {
    for (const WELL_KNOWN_SID_TYPE who : {WinAuthenticatedUserSid, WinBuiltinUsersSid, WinWorldSid,
                                          WinInteractiveSid, WinCreatorOwnerSid}) {
      EXPECT_EQ(RightsOf(sddl, who).allowed & change, 0u) << Ascii(std::wstring_view(sddl)) << " " << who;
    }
    EXPECT_EQ(RightsOf(sddl, WinLocalSystemSid).allowed, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
  }
  EXPECT_EQ(RightsOf(service::kServiceFolderSddl, WinAuthenticatedUserSid).allowed,
            static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_TRAVERSE));
  EXPECT_EQ(RightsOf(service::kServiceLogSddl, WinAuthenticatedUserSid).allowed,
            static_cast<ACCESS_MASK>(FILE_GENERIC_READ));
  EXPECT_EQ(RightsOf(service::kPrivateFileSddl, WinAuthenticatedUserSid).allowed, 0u);
}

class ServiceObjects : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service_.running()) << InstalledService::LogText(); }
  InstalledService service_;
};

TEST_F(ServiceObjects, PipeAndEventsCarryTheirDescriptors) {
  UniqueEvent sync(::OpenEventW(READ_CONTROL, FALSE, L"Global\\VTOpenVPNSync"));
  UniqueEvent open(::OpenEventW(READ_CONTROL, FALSE, L"Global\\VTOpenVPNOpen"));
  ASSERT_TRUE(sync && open);
  EXPECT_EQ(Ascii(DaclOf(sync.Get(), SE_KERNEL_OBJECT)), Ascii(Normalised(service::kEventSddl)));
  EXPECT_EQ(Ascii(DaclOf(open.Get(), SE_KERNEL_OBJECT)), Ascii(Normalised(service::kEventSddl)));
  UniquePipe pipe(::CreateFileW(L"\\\\.\\pipe\\VeltronaVPNCommunication", READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                                SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  ASSERT_TRUE(pipe.IsValid());
  EXPECT_EQ(Ascii(DaclOf(pipe.Get(), SE_KERNEL_OBJECT)), Ascii(Normalised(service::kPipeSddl)));
}

TEST_F(ServiceObjects, ADataFolderReachedThroughALinkIsRefused) {
  const fs::path real = fs::path(InstalledService::DataFolder()).parent_path() / "Veltrona VPN real";
  fs::remove_all(real);
  fs::rename(InstalledService::DataFolder(), real);
  if (!test_support::MakeFolderLink(InstalledService::DataFolder(), real.wstring())) {
    fs::rename(real, InstalledService::DataFolder());
    GTEST_SKIP() << "symbolic links cannot be made here";
  }
  ipc::Endpoints endpoints = ipc::Endpoints::Default();
  endpoints.sync_timeout_ms = 2000;
  EXPECT_EQ(ipc::RequestServiceStart(endpoints, InstalledService::DataFolder()), ipc::StartRequest::kNoAnswer);
  EXPECT_TRUE(InstalledService::WaitForLog("MSG_SET_PATH refused: the folder is reached through a link"))
      << InstalledService::LogText();
  test_support::RemoveFolderLink(InstalledService::DataFolder());
  fs::rename(real, InstalledService::DataFolder());
}

// Who may change the service folder, as its access list read back says.
// Wine derives file access lists from the Unix mode, so this shows whether
// others may write; Windows shows the list the service set.
std::string OthersWhoMayChange(const std::wstring& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "<unreadable>";
  }
  UniqueSecurityDescriptor owned(descriptor);
  if (dacl == nullptr) return "everyone (no access list)";
  std::string others;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & service::kChangeRights) == 0 || ::IsWellKnownSid(&ace->SidStart, WinLocalSystemSid) ||
        ::IsWellKnownSid(&ace->SidStart, WinBuiltinAdministratorsSid) || ::EqualSid(&ace->SidStart, owner)) {
      continue;
    }
    wchar_t* text = nullptr;
    ::ConvertSidToStringSidW(&ace->SidStart, &text);
    const UniqueLocalMemory text_memory(text);
    others += Ascii(std::wstring_view(text ? text : L"?")) + " ";
  }
  return others;
}

// A precious folder outside the service's reach, which a link may point to.
class PreciousFolder {
 public:
  PreciousFolder() : path_(fs::path(InstalledService::ServiceFolder()).parent_path() / "Veltrona precious") {
    fs::remove_all(path_);
    fs::create_directories(path_);
    std::ofstream(path_ / "keep.txt", std::ios::binary) << "keep me";
  }
  ~PreciousFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  bool Intact() const {
    std::ifstream file(path_ / "keep.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {}) == "keep me";
  }

 private:
  fs::path path_;
};

TEST(ServiceFolderTrust, TheServiceMakesItsFolderAndNobodyElseMayChangeIt) {
  InstalledService service;
  ASSERT_TRUE(service.running()) << InstalledService::LogText();
  EXPECT_TRUE(fs::is_directory(InstalledService::ServiceFolder()));
  EXPECT_EQ(OthersWhoMayChange(InstalledService::ServiceFolder()), "");
  EXPECT_EQ(OthersWhoMayChange(InstalledService::ServiceFolder() + L"\\service.log"), "");
}

TEST(ServiceFolderTrust, AFolderAUserMadeIsReplacedBeforeUse) {
  InstalledService service(L"", [] {
    fs::create_directories(InstalledService::ServiceFolder());
    std::ofstream(fs::path(InstalledService::ServiceFolder()) / "planted.txt") << "planted";
    std::wstring name = InstalledService::ServiceFolder();
    UniqueSecurityDescriptor open_to_all = service::DescriptorFromSddl(L"D:(A;OICI;FA;;;WD)");
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(open_to_all.Get(), &present, &dacl, &defaulted));
    ASSERT_EQ(::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                      nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(OthersWhoMayChange(name), "");
  });
  ASSERT_TRUE(service.running()) << InstalledService::LogText();
  EXPECT_NE(InstalledService::LogText().find("Service started\r\nService folder "), std::string::npos)
      << InstalledService::LogText();
  EXPECT_FALSE(fs::exists(fs::path(InstalledService::ServiceFolder()) / "planted.txt"));
  EXPECT_EQ(OthersWhoMayChange(InstalledService::ServiceFolder()), "");
}

TEST(ServiceFolderTrust, AServiceFolderThatIsALinkIsNeverFollowed) {
  PreciousFolder precious;
  InstalledService service(L"", [&] {
    ASSERT_TRUE(test_support::MakeFolderLink(InstalledService::ServiceFolder(), precious.path().wstring()));
  });
  ASSERT_TRUE(service.Stop());
  EXPECT_TRUE(precious.Intact());
  EXPECT_FALSE(fs::exists(precious.path() / "service.log"));
  // Windows removes the link itself and makes the folder; Wine cannot remove
  // a link as itself, so there the service goes without its folder.
  const bool link_left = test_support::IsLink(InstalledService::ServiceFolder());
  if (!link_left) {
    EXPECT_TRUE(fs::exists(fs::path(InstalledService::ServiceFolder()) / "service.log"));
  }
  test_support::RemoveFolderLink(InstalledService::ServiceFolder());
}

// The texts of the application log's events from the service's source.
std::string ServiceEvents() {
  std::string texts;
  UniqueEventLog log(::OpenEventLogW(nullptr, L"Application"));
  if (!log) return texts;
  std::vector<BYTE> buffer(64 * 1024);
  DWORD read = 0;
  DWORD needed = 0;
  while (::ReadEventLogW(log.Get(), EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &read, &needed)) {
    for (DWORD offset = 0; offset < read;) {
      const auto* record = reinterpret_cast<const EVENTLOGRECORD*>(buffer.data() + offset);
      const auto* source = reinterpret_cast<const wchar_t*>(record + 1);
      if (std::wstring_view(source) == service::kEventSource && record->NumStrings > 0) {
        texts += Ascii(std::wstring_view(
                     reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(record) + record->StringOffset))) +
                 "\n";
      }
      offset += record->Length;
    }
  }
  return texts;
}

TEST(ServiceEventLog, AFolderThatCannotBeUsedIsReportedThere) {
  const std::wstring folder = InstalledService::ServiceFolder();
  test_support::RemoveServiceIfPresent(test_support::kServiceName);
  test_support::RemoveFolderLink(folder);
  fs::remove_all(folder);
  // A file in the folder's place that someone holds open: it can be neither
  // used nor removed.
  UniqueFile squatter(::CreateFileW(folder.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(squatter.IsValid());
  std::string reported;
  // Wine's event log is a line on standard error, not a record an
  // administrator can read back.
  if (ipc::RunningUnderWine()) {
    reported = test_support::WineDebugOutput(test_support::PeerProgram(L"service_without_scm"), L"-all,err+eventlog");
  } else {
    EXPECT_EQ(test_support::RunProgram(test_support::PeerProgram(L"service_without_scm"), L"").exit_code, 0u);
    reported = ServiceEvents();
  }
  squatter.Reset();
  fs::remove(folder);
  const std::string expected = "The Veltrona VPN service cannot use its folder ";
  EXPECT_NE(reported.find(expected), std::string::npos) << reported;
  EXPECT_NE(reported.find("It keeps no log and starts no OpenVPN until the folder is fixed."), std::string::npos)
      << reported;
  if (ipc::RunningUnderWine()) {
    EXPECT_NE(reported.find("err:eventlog:ReportEventW"), std::string::npos) << reported;
  }
}

}  // namespace
}  // namespace veltrona
