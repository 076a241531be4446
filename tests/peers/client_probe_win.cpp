// Stands in for the tray client where a script needs one: shows the service's
// state and sends the client's pipe messages with the client's own senders.
//   client_probe status
//   client_probe start-request [data folder]
//   client_probe route-check
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
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
  std::fprintf(stderr, "usage: client_probe status | start-request [folder] | route-check\n");
  return 2;
}
