// The running service with the OpenVPN stand-in as openvpn.exe: what a
// client's requests make it do, as its log and OpenVPN's output show.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "base/known_folders_win.h"
#include "ipc/protocol.h"
#include "ipc/senders_win.h"
#include "service/security_win.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/links_win.h"
#include "tests/win_test_support/loopback_listener_win.h"
#include "tests/win_test_support/pipe_client_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/service_fixture_win.h"

namespace veltrona {
namespace {

using test_support::ClientPresence;
using test_support::CountOccurrences;
using test_support::InstalledService;

constexpr char kStarted[] =
    "Service started\r\n"
    "Service is waiting for events\r\n";

using test_support::SyncEventIsSet;
using test_support::WriteToPipe;

std::string Code(uint32_t code) { return test_support::CodeBytes(code); }
std::string SetPathPayload(const std::wstring& folder) { return test_support::SetPathBytes(folder); }

class ServiceWorker : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service_.running()) << InstalledService::LogText(); }

  // The client's whole start request: the paths, then the open event.
  void RequestStart() { ASSERT_EQ(ipc::RequestServiceStart(), ipc::StartRequest::kRequested); }

  InstalledService service_;
};

TEST_F(ServiceWorker, ANormalConnectionLogsEachStep) {
  ClientPresence client;
  RequestStart();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN is fired. Waiting for events"));
  ASSERT_TRUE(InstalledService::WaitForOpenVpnReady()) << InstalledService::LogText() << InstalledService::OpenVpnOutput();
  ASSERT_TRUE(ipc::RequestRouteCheck());
  ASSERT_TRUE(InstalledService::WaitForLog("Checking route table"));
  // The client disconnects: OpenVPN ends, the service is idle again.
  ipc::SignalOpenVpnExit();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN process terminated"));
  ASSERT_TRUE(InstalledService::WaitForLog("Service is waiting for events", 20000, 3));
  EXPECT_EQ(InstalledService::LogText(), std::string(kStarted) +
                                             "Message MSG_SET_PATH\r\n"
                                             "All paths updated\r\n"
                                             "Service is waiting for events\r\n"
                                             "Connection tool requests Open VPN startup\r\n"
                                             "OpenVPN is fired. Waiting for events\r\n"
                                             "Checking route table\r\n"
                                             // Wine's table has no tunnel route.
                                             "OpenVPN route not found\r\n"
                                             "OpenVPN process terminated\r\n"
                                             "Service is waiting for events\r\n");
  // OpenVPN wrote to the client's log.txt and ran the service's own copy.
  const std::string output = InstalledService::OpenVpnOutput();
  EXPECT_NE(output.find("Veltrona VPN\\session\\Veltrona.ovpn"), std::string::npos) << output;
}

TEST_F(ServiceWorker, AListenerOnTheManagementPortKeepsOpenVpnFromStarting) {
  ClientPresence client;
  {
    test_support::LoopbackListener squatter(ipc::kManagementPort);
    ASSERT_TRUE(squatter.listening());
    RequestStart();
    ASSERT_TRUE(InstalledService::WaitForLog("Service is waiting for events", 20000, 3));
    EXPECT_EQ(InstalledService::LogText(), std::string(kStarted) +
                                               "Message MSG_SET_PATH\r\n"
                                               "All paths updated\r\n"
                                               "Service is waiting for events\r\n"
                                               "Connection tool requests Open VPN startup\r\n"
                                               "The management port 13247 is in use by another program; "
                                               "OpenVPN is not started\r\n"
                                               "Service is waiting for events\r\n");
    EXPECT_EQ(test_support::CountProcesses(L"openvpn.exe"), 0u);
    EXPECT_EQ(InstalledService::OpenVpnOutput(), "");
  }
  // Once it is gone, OpenVPN starts again.
  RequestStart();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN is fired. Waiting for events"));
  ASSERT_TRUE(InstalledService::WaitForOpenVpnReady()) << InstalledService::LogText() << InstalledService::OpenVpnOutput();
  ipc::SignalOpenVpnExit();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN process terminated"));
}

TEST_F(ServiceWorker, AnOpenRequestWithoutAClientStartsNothing) {
  RequestStart();
  ASSERT_TRUE(InstalledService::WaitForLog("The connection tool is not running; OpenVPN is not started"))
      << InstalledService::LogText();
  EXPECT_EQ(InstalledService::LogText().find("OpenVPN is fired"), std::string::npos);
}

TEST_F(ServiceWorker, AStopDuringSupervisionTellsOpenVpnToExit) {
  ClientPresence client;
  RequestStart();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN is fired. Waiting for events"));
  ASSERT_TRUE(service_.Stop());
  EXPECT_NE(InstalledService::LogText().find("OpenVPN is fired. Waiting for events\r\n"
                                             "System requesting service shutdown\r\n"
                                             "Service is waiting for events\r\n"
                                             "System requesting service shutdown\r\n"),
            std::string::npos)
      << InstalledService::LogText();
}

TEST_F(ServiceWorker, ASecondOpenRequestWaitsForTheFirstOpenVpnToEnd) {
  ClientPresence client;
  RequestStart();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN is fired. Waiting for events"));
  ASSERT_TRUE(InstalledService::WaitForOpenVpnReady()) << InstalledService::LogText() << InstalledService::OpenVpnOutput();
  RequestStart();  // paths are taken during supervision; the start waits
  ASSERT_TRUE(InstalledService::WaitForLog("All paths updated", 20000, 2));
  ::Sleep(300);
  EXPECT_EQ(CountOccurrences(InstalledService::LogText(), "Connection tool requests Open VPN startup"), 1u);
  // The first OpenVPN ends on its own (not by the client's exit, which
  // would be meant for the second start too).
  test_support::TerminateProcesses(L"openvpn.exe");
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN is fired. Waiting for events", 20000, 2)) << InstalledService::LogText();
  const std::string log = InstalledService::LogText();
  EXPECT_LT(log.find("OpenVPN process terminated"), log.rfind("Connection tool requests Open VPN startup")) << log;
  ASSERT_TRUE(InstalledService::WaitForOpenVpnReady()) << InstalledService::LogText() << InstalledService::OpenVpnOutput();
  ipc::SignalOpenVpnExit();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN process terminated", 20000, 2));
}

TEST_F(ServiceWorker, AClientThatDiesWhileConnectedTakesItsOpenVpnDown) {
  // A client that dies holds its mutex without releasing it.
  UniqueEvent die(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueEvent holding(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueMutex mutex;
  std::thread client([&] {
    mutex.Reset(::CreateMutexW(nullptr, TRUE, L"Global\\VeltronaIsOpened"));
    ::SetEvent(holding.Get());
    ::WaitForSingleObject(die.Get(), INFINITE);
  });
  ::WaitForSingleObject(holding.Get(), 5000);
  RequestStart();
  const bool fired = InstalledService::WaitForLog("OpenVPN is fired. Waiting for events");
  ::SetEvent(die.Get());
  client.join();
  ASSERT_TRUE(fired) << InstalledService::LogText();
  ASSERT_TRUE(InstalledService::WaitForLog("Tool terminated")) << InstalledService::LogText();
  // And OpenVPN was told to go.
  for (const ULONGLONG deadline = ::GetTickCount64() + 15000;
       test_support::CountProcesses(L"openvpn.exe") != 0 && ::GetTickCount64() < deadline;) {
    ::Sleep(50);
  }
  EXPECT_EQ(test_support::CountProcesses(L"openvpn.exe"), 0u);
}

TEST_F(ServiceWorker, RouteCheckWhileIdleFindsNoTunnel) {
  ASSERT_TRUE(ipc::RequestRouteCheck());
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN route not found"));
  EXPECT_EQ(InstalledService::LogText(), std::string(kStarted) +
                                             "Checking route table\r\n"
                                             "OpenVPN route not found\r\n"
                                             "Service is waiting for events\r\n");
}

TEST_F(ServiceWorker, APayloadLaterThanASecondIsDropped) {
  const auto folder = ClientDataFolder();
  // The service has given up on the message by the time the payload comes.
  ASSERT_GE(WriteToPipe({Code(ipc::MSG_SET_PATH), SetPathPayload(*folder)}, 1600), 1u);
  ASSERT_TRUE(InstalledService::WaitForLog("Service is waiting for events", 20000, 2));
  EXPECT_EQ(InstalledService::LogText(), std::string(kStarted) +
                                             "Message MSG_SET_PATH\r\n"
                                             "Service is waiting for events\r\n");
  EXPECT_FALSE(SyncEventIsSet());
}

TEST_F(ServiceWorker, UnknownCodesAndExtraMessagesAreIgnored) {
  ASSERT_EQ(WriteToPipe({Code(7)}), 1u);
  // Nothing but the idle line again, folded as a repeat.
  ASSERT_TRUE(InstalledService::WaitForLog("Message repetitions suppressed"));
  // Only the first message of a connection counts.
  ASSERT_EQ(WriteToPipe({Code(ipc::MSG_CHECK_ROUTES) + Code(ipc::MSG_CHECK_ROUTES)}), 1u);
  ASSERT_TRUE(InstalledService::WaitForLog("Service is waiting for events", 20000, 2));
  ASSERT_TRUE(ipc::RequestRouteCheck());
  ASSERT_TRUE(InstalledService::WaitForLog("Service is waiting for events", 20000, 3));
  EXPECT_EQ(InstalledService::LogText(), std::string(kStarted) +
                                             "Message repetitions suppressed\r\n"
                                             "Suppressed 1 repetitions\r\n"
                                             "Checking route table\r\n"
                                             "OpenVPN route not found\r\n"
                                             "Service is waiting for events\r\n"
                                             "Checking route table\r\n"
                                             "OpenVPN route not found\r\n"
                                             "Service is waiting for events\r\n");
}

TEST_F(ServiceWorker, AFolderThatIsNotTheSendersIsRefused) {
  ASSERT_EQ(WriteToPipe({Code(ipc::MSG_SET_PATH), SetPathPayload(L"C:\\windows\\temp\\Veltrona VPN")}), 2u);
  ASSERT_TRUE(InstalledService::WaitForLog("MSG_SET_PATH refused: the folder is not the sender's data folder"));
  EXPECT_FALSE(SyncEventIsSet());
  // An open request now starts nothing.
  ASSERT_TRUE(test_support::SetOpenEvent());
  ASSERT_TRUE(InstalledService::WaitForLog("No data folder has been set; OpenVPN is not started"));
}

TEST_F(ServiceWorker, UnterminatedAndOverLongFoldersAreRefused) {
  ASSERT_EQ(WriteToPipe({Code(ipc::MSG_SET_PATH), std::string(520, 'A')}), 2u);
  ASSERT_TRUE(InstalledService::WaitForLog("MSG_SET_PATH refused: the folder is not terminated"));
  std::string too_long(520, '\0');
  for (size_t i = 0; i < 250; ++i) too_long[2 * i] = 'a';
  too_long[0] = 'C';
  too_long[2] = ':';
  too_long[4] = '\\';
  ASSERT_EQ(WriteToPipe({Code(ipc::MSG_SET_PATH), too_long}), 2u);
  ASSERT_TRUE(InstalledService::WaitForLog("MSG_SET_PATH refused: the folder is too long"));
  EXPECT_FALSE(SyncEventIsSet());
}

TEST_F(ServiceWorker, ADangerousConfigurationStartsNothing) {
  ClientPresence client;
  InstalledService::WriteClientFile(L"Veltrona.ovpn",
                                    test_support::ClientConfig("script-security 2\r\nup \"calc.exe\"\r\n"));
  RequestStart();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN configuration refused"));
  ASSERT_TRUE(InstalledService::WaitForLog("Service is waiting for events", 20000, 3));
  const std::string log = InstalledService::LogText();
  EXPECT_NE(log.find("script-security"), std::string::npos) << log;
  EXPECT_EQ(log.find("OpenVPN is fired"), std::string::npos) << log;
  // The reason is in log.txt too, which the problem report sends.
  const std::string output = InstalledService::OpenVpnOutput();
  EXPECT_NE(output.find("Veltrona VPN service: OpenVPN configuration refused: "), std::string::npos) << output;
  EXPECT_NE(output.find("script-security"), std::string::npos) << output;
}

TEST_F(ServiceWorker, AKeyFileOutsideTheDataFolderStartsNothing) {
  ClientPresence client;
  std::string config = test_support::ClientConfig();
  config.replace(config.find("ca ca.crt"), 9, "ca C:\\windows\\win.ini");
  InstalledService::WriteClientFile(L"Veltrona.ovpn", config);
  RequestStart();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN configuration refused"));
  EXPECT_EQ(InstalledService::LogText().find("OpenVPN is fired"), std::string::npos);
}

// The copy OpenVPN runs, and the folder it is in, as a user on the same
// machine sees them.
std::wstring SessionFolder() { return InstalledService::ServiceFolder() + L"\\session"; }
std::wstring SessionCopy() { return SessionFolder() + L"\\Veltrona.ovpn"; }

// What a user would want OpenVPN to run as SYSTEM; the stand-in shows the
// behaviour line when it reads it.
const std::string kSwappedIn = test_support::ClientConfig("# standin: tun-ip 10.66.66.66\r\nscript-security 2\r\nup calc.exe\r\n");
constexpr char kCheckedMarker[] = "tun-ip 10.235.0.77";
constexpr char kSwappedMarker[] = "tun-ip 10.66.66.66";

bool PutFile(const std::wstring& path, const std::string& bytes, DWORD disposition) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, disposition, 0, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Every way a user could try to change what OpenVPN reads: write over the
// copy, delete and replace it, move another file onto it, move the folder
// away and put another in its place. Counts the attempts that succeeded.
size_t TrySwappingTheCopy() {
  size_t done = 0;
  const std::wstring spare = InstalledService::ServiceFolder() + L"\\spare.ovpn";
  const std::wstring moved_folder = InstalledService::ServiceFolder() + L"\\session.old";
  done += PutFile(SessionCopy(), kSwappedIn, TRUNCATE_EXISTING);
  if (::DeleteFileW(SessionCopy().c_str())) done += 1 + PutFile(SessionCopy(), kSwappedIn, CREATE_NEW);
  if (PutFile(spare, kSwappedIn, CREATE_ALWAYS)) {
    done += ::MoveFileExW(spare.c_str(), SessionCopy().c_str(), MOVEFILE_REPLACE_EXISTING);
    ::DeleteFileW(spare.c_str());
  }
  if (::MoveFileExW(SessionFolder().c_str(), moved_folder.c_str(), 0)) {
    ++done;
    ::CreateDirectoryW(SessionFolder().c_str(), nullptr);
    PutFile(SessionCopy(), kSwappedIn, CREATE_ALWAYS);
  }
  return done;
}

TEST_F(ServiceWorker, TheCopyOpenVpnRunsCannotBeSwappedWhileItStarts) {
  ClientPresence client;
  InstalledService::WriteClientFile(L"Veltrona.ovpn", test_support::ClientConfig(std::string("# standin: ") +
                                                                                 kCheckedMarker + "\r\n"));
  constexpr char kFired[] = "OpenVPN is fired. Waiting for events";
  // A user who gets in between the service's steps can make a start fail
  // (Windows' access lists keep users out of the folder; Wine's do not),
  // but must never get their own configuration run.
  constexpr char kRefused[] = "Cannot write the service's copy of the configuration";
  size_t started = 0;
  for (int round = 1; round <= 6; ++round) {
    SCOPED_TRACE(round);
    const std::string before = InstalledService::LogText();
    const size_t fired_before = CountOccurrences(before, kFired);
    const size_t refused_before = CountOccurrences(before, kRefused);
    std::atomic<bool> stop{false};
    std::atomic<size_t> tries{0};
    std::thread user([&] {
      while (!stop) {
        TrySwappingTheCopy();
        ++tries;
      }
    });
    RequestStart();
    bool fired = false;
    bool refused = false;
    for (const ULONGLONG deadline = ::GetTickCount64() + 20000; !fired && !refused && ::GetTickCount64() < deadline;) {
      const std::string log = InstalledService::LogText();
      fired = CountOccurrences(log, kFired) > fired_before;
      refused = CountOccurrences(log, kRefused) > refused_before;
      if (!fired && !refused) ::Sleep(10);
    }
    const bool ready = fired && InstalledService::WaitForOpenVpnReady();
    stop = true;
    user.join();
    EXPECT_GT(tries.load(), 0u);
    const std::string output = InstalledService::OpenVpnOutput();
    EXPECT_EQ(output.find(kSwappedMarker), std::string::npos) << output;
    ASSERT_TRUE(fired || refused) << InstalledService::LogText();
    if (!fired) continue;
    ++started;
    ASSERT_TRUE(ready) << InstalledService::LogText() << output;
    EXPECT_NE(output.find(kCheckedMarker), std::string::npos) << output;
    ipc::SignalOpenVpnExit();
    ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN process terminated", 20000, started));
    std::error_code error;
    std::filesystem::remove_all(InstalledService::ServiceFolder() + L"\\session.old", error);
  }
  EXPECT_GE(started, 1u) << InstalledService::LogText();
}

TEST_F(ServiceWorker, ASessionFolderSomeoneElseMadeIsNotUsed) {
  ClientPresence client;
  InstalledService::WriteClientFile(L"Veltrona.ovpn", test_support::ClientConfig(std::string("# standin: ") +
                                                                                 kCheckedMarker + "\r\n"));
  // Made before the first start, open to everyone, with a copy in it.
  UniqueSecurityDescriptor open_to_all = service::DescriptorFromSddl(L"D:(A;OICI;FA;;;WD)");
  SECURITY_ATTRIBUTES attributes{sizeof attributes, open_to_all.Get(), FALSE};
  ASSERT_TRUE(::CreateDirectoryW(SessionFolder().c_str(), &attributes));
  ASSERT_TRUE(PutFile(SessionCopy(), kSwappedIn, CREATE_NEW));
  ASSERT_TRUE(PutFile(SessionFolder() + L"\\extra.txt", "planted", CREATE_NEW));
  RequestStart();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN is fired. Waiting for events"));
  ASSERT_TRUE(InstalledService::WaitForOpenVpnReady()) << InstalledService::LogText();
  const std::string output = InstalledService::OpenVpnOutput();
  EXPECT_NE(output.find(kCheckedMarker), std::string::npos) << output;
  EXPECT_EQ(output.find(kSwappedMarker), std::string::npos) << output;
  EXPECT_FALSE(test_support::FileExists(SessionFolder() + L"\\extra.txt"));
  ipc::SignalOpenVpnExit();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN process terminated"));
}

TEST_F(ServiceWorker, ALinkPlantedAsTheSessionFolderIsNeverFollowed) {
  ClientPresence client;
  const std::filesystem::path precious =
      std::filesystem::path(InstalledService::ServiceFolder()).parent_path() / "Veltrona precious";
  std::filesystem::remove_all(precious);
  std::filesystem::create_directories(precious);
  ASSERT_TRUE(test_support::WriteWholeFile((precious / "keep.txt").wstring(), "keep me"));
  if (!test_support::MakeFolderLink(SessionFolder(), precious.wstring())) GTEST_SKIP() << "no links here";
  RequestStart();
  ASSERT_TRUE(InstalledService::WaitForLog("Service is waiting for events", 20000, 3));
  const std::string log = InstalledService::LogText();
  EXPECT_EQ(test_support::ReadWholeFile((precious / "keep.txt").wstring()), "keep me");
  if (test_support::IsLink(SessionFolder())) {
    // Wine cannot remove a link as itself: the start is refused.
    EXPECT_NE(log.find("Cannot write the service's copy of the configuration: "), std::string::npos) << log;
    EXPECT_NE(log.find("is a link that cannot be removed as itself"), std::string::npos) << log;
    EXPECT_EQ(log.find("OpenVPN is fired"), std::string::npos) << log;
    test_support::RemoveFolderLink(SessionFolder());
  } else {
    // Windows removes the link itself and starts OpenVPN on a new folder.
    EXPECT_NE(log.find("OpenVPN is fired"), std::string::npos) << log;
  }
  std::filesystem::remove_all(precious);
}

TEST_F(ServiceWorker, RandomBytesAndMessageSequencesLeaveItAnswering) {
  std::mt19937 random(20261208);
  const auto folder = ClientDataFolder();
  for (int i = 0; i < 150; ++i) {
    std::string bytes;
    switch (random() % 4) {
      case 0:  // noise of any length
        bytes.resize(random() % 1200);
        for (char& c : bytes) c = static_cast<char>(random());
        break;
      case 1:  // a valid code with a cut or noisy payload
        bytes = Code(ipc::MSG_SET_PATH) + SetPathPayload(*folder).substr(0, random() % 520);
        if (random() % 2) bytes[4 + random() % (bytes.size() - 3)] = static_cast<char>(random());
        break;
      case 2:  // several messages in one connection
        for (int k = random() % 5; k >= 0; --k) bytes += Code(random() % 2 ? ipc::MSG_CHECK_ROUTES : random() % 8);
        break;
      default:  // a few bytes, or none
        bytes.resize(random() % 4);
        for (char& c : bytes) c = static_cast<char>(random());
        break;
    }
    WriteToPipe({bytes});
  }
  // A normal connection still works.
  ClientPresence client;
  RequestStart();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN is fired. Waiting for events"));
  ASSERT_TRUE(InstalledService::WaitForOpenVpnReady()) << InstalledService::LogText() << InstalledService::OpenVpnOutput();
  ipc::SignalOpenVpnExit();
  ASSERT_TRUE(InstalledService::WaitForLog("OpenVPN process terminated"));
}

}  // namespace
}  // namespace veltrona
