// Stands in for the tray client where a script needs one: shows the service's
// state and sends the client's pipe messages with the client's own senders.
//   client_probe status
//   client_probe start-request [data folder]
//   client_probe route-check
//   client_probe connect      hold the client's mutex, have the service start
//                             OpenVPN, talk to its management port, disconnect
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "ipc/senders_win.h"

namespace {

using namespace veltrona;

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start pending";
    case SERVICE_STOP_PENDING: return "stop pending";
    case SERVICE_RUNNING: return "running";
    default: return "other";
  }
}

int ShowStatus() {
  UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  UniqueServiceHandle service(::OpenServiceW(manager.Get(), L"VeltronaVPNService", SERVICE_QUERY_STATUS));
  SERVICE_STATUS status{};
  if (!service || !::QueryServiceStatus(service.Get(), &status)) {
    std::printf("VeltronaVPNService: not installed\n");
    return 1;
  }
  std::printf("VeltronaVPNService: %s\n", StateName(status.dwCurrentState));
  return status.dwCurrentState == SERVICE_RUNNING ? 0 : 1;
}

int StartRequest(const std::wstring& folder) {
  const ipc::StartRequest result = ipc::RequestServiceStart(ipc::Endpoints::Default(), folder);
  std::printf("MSG_SET_PATH for %ls: ", folder.c_str());
  switch (result) {
    case ipc::StartRequest::kRequested:
      std::printf("paths stored, OpenVPN requested\n");
      return 0;
    case ipc::StartRequest::kServiceUnavailable:
      std::printf("the service's pipe is not open; nothing sent\n");
      return 1;
    case ipc::StartRequest::kNoAnswer:
      std::printf("sent, but the service did not acknowledge it\n");
      return 1;
    case ipc::StartRequest::kFolderUnavailable:
      std::printf("the data folder cannot be sent\n");
      return 1;
  }
  return 1;
}

int RouteCheck() {
  const bool sent = ipc::RequestRouteCheck();
  std::printf("MSG_CHECK_ROUTES: %s\n", sent ? "sent" : "the service's pipe is not open; nothing sent");
  return sent ? 0 : 1;
}

// Reads what the management port says first, as the client's engine would.
std::string ManagementGreeting() {
  const ScopedWinsock winsock;
  if (!winsock.started()) return {};
  std::string greeting;
  for (int attempt = 0; attempt < 100 && greeting.empty(); ++attempt) {
    const UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(ipc::kManagementPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      char buffer[512];
      const int received = ::recv(socket.Get(), buffer, sizeof buffer - 1, 0);
      if (received > 0) greeting.assign(buffer, static_cast<size_t>(received));
    } else {
      ::Sleep(100);
    }
  }
  return greeting;
}

int Connect() {
  // A running client holds this for its whole life; the service watches it.
  UniqueMutex client(::CreateMutexW(nullptr, TRUE, ToWide(ipc::kClientMutexName).c_str()));
  const auto folder = ClientDataFolder();
  if (!folder || StartRequest(*folder) != 0) return 1;
  const std::string greeting = ManagementGreeting();
  std::printf("OpenVPN's management port says: %s", greeting.empty() ? "nothing\n" : greeting.c_str());
  std::printf("disconnecting: setting OpenVPN's exit event\n");
  ipc::SignalOpenVpnExit();
  ::Sleep(1500);
  ::ReleaseMutex(client.Get());
  return greeting.empty() ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"status") return ShowStatus();
  if (command == L"start-request") {
    if (argc > 2) return StartRequest(argv[2]);
    const auto folder = ClientDataFolder();
    return folder ? StartRequest(*folder) : 1;
  }
  if (command == L"route-check") return RouteCheck();
  if (command == L"connect") return Connect();
  std::fprintf(stderr, "usage: client_probe status | start-request [folder] | route-check | connect\n");
  return 2;
}
