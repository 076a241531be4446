// What the service grants other local users on its objects, and the links it
// refuses to follow. Wine keeps security descriptors but does not enforce
// them, so these tests read back what was set; only Windows can show a
// refused open.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <string>

#include "base/unique_handle_win.h"
#include "ipc/protocol.h"
#include "ipc/senders_win.h"
#include "service/security_win.h"
#include "tests/test_text.h"
#include "tests/win_test_support/links_win.h"
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
  service::UniqueSecurityDescriptor owned(descriptor);
  wchar_t* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, nullptr)) {
    return L"<unreadable>";
  }
  std::wstring result(text);
  ::LocalFree(text);
  return result;
}

// The same descriptor, written the way the system writes it back.
std::wstring Normalised(const wchar_t* sddl) {
  service::UniqueSecurityDescriptor descriptor = service::DescriptorFromSddl(sddl);
  wchar_t* text = nullptr;
  if (!descriptor || !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                         descriptor.Get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"<invalid>";
  }
  std::wstring result(text);
  ::LocalFree(text);
  return result;
}

using test_support::Ascii;

struct Rights {
  ACCESS_MASK allowed = 0;
  ACCESS_MASK denied = 0;
};

// What the descriptor's access list says about one well-known account.
Rights RightsOf(const wchar_t* sddl, WELL_KNOWN_SID_TYPE who) {
  Rights rights;
  service::UniqueSecurityDescriptor descriptor = service::DescriptorFromSddl(sddl);
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

TEST(ServiceFolderTrust, ALinkedServiceFolderKeepsTheLogClosed) {
  const fs::path folder = InstalledService::ServiceFolder();
  const fs::path elsewhere = folder.parent_path() / "Veltrona VPN elsewhere";
  fs::remove_all(folder);
  fs::create_directories(elsewhere);
  if (!test_support::MakeFolderLink(folder.wstring(), elsewhere.wstring())) {
    GTEST_SKIP() << "symbolic links cannot be made here";
  }
  EXPECT_FALSE(service::IsTrustedServiceFolder(folder.wstring()));
  EXPECT_TRUE(service::IsTrustedServiceFolder(elsewhere.wstring()));
  test_support::RemoveFolderLink(folder.wstring());
  fs::remove_all(elsewhere);
}

}  // namespace
}  // namespace veltrona
