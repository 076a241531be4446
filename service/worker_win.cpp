#include "service/worker_win.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "ipc/protocol.h"
#include "ipc/senders_win.h"
#include "service/data_folder.h"
#include "service/openvpn_launch_win.h"
#include "service/pipe_reader_win.h"
#include "service/route_guard_win.h"
#include "service/security_win.h"
#include "service/service_control_win.h"
#include "service/service_folder_win.h"
#include "service/service_log_win.h"

namespace veltrona::service {

namespace {

// A wait that fails keeps failing (an object could not be created); the
// loop then waits this long between attempts instead of spinning.
constexpr DWORD kFailedWaitBackoffMs = 1000;

// Everything the worker owns for as long as the service runs.
struct Worker {
  ServiceLog log;
  UniqueSecurityDescriptor pipe_descriptor;
  UniqueSecurityDescriptor event_descriptor;
  UniquePipe pipe;
  UniqueEvent sync_event;
  UniqueEvent stop_event;
  UniqueEvent open_event;
  UniqueEvent listen_event;
  OVERLAPPED listen{};
  std::wstring install_folder;
  std::wstring openvpn_program;
  ServiceFolder service_folder;
  std::optional<ClientSession> session;
  std::optional<RouteGuard> guard;
  bool wait_failure_logged = false;
  // An OpenVPN that was told to exit but not waited for (the client went
  // away, or the service is stopping), with the exit event kept alive so
  // that OpenVPN finds it set even if it opens it late.
  std::optional<RunningOpenVpn> departing;
  UniqueEvent departing_exit_event;
};

// How long a told-to-exit OpenVPN may take before the next one starts, or
// before the service stops.
constexpr DWORD kDepartingGraceMs = 10000;

void Listen(Worker& w, bool log_failure) {
  const HANDLE event = w.listen.hEvent;
  w.listen = OVERLAPPED{};
  w.listen.hEvent = event;
  if (!::ConnectNamedPipe(w.pipe.Get(), &w.listen)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
      // A client got in between creating the pipe and listening; the system
      // does not signal that, so the worker does, to read its message.
      ::SetEvent(event);
    } else if (error != ERROR_IO_PENDING && log_failure) {
      w.log.WriteCode("ConnectNamedPipe failed", error);
    }
  }
}

void Relisten(Worker& w) {
  ::DisconnectNamedPipe(w.pipe.Get());
  ::ResetEvent(w.listen.hEvent);
  Listen(w, false);
}

// A failed wait (an object that could not be created) would repeat at
// once for ever: log it once per run of failures and slow down.
void BackOffAfterFailedWait(Worker& w) {
  if (!w.wait_failure_logged) {
    w.log.WriteCode("Waiting for events failed", ::GetLastError());
    w.wait_failure_logged = true;
  }
  ::Sleep(kFailedWaitBackoffMs);
}

void StoreClientPaths(Worker& w, const ipc::SetPathPayload& payload) {
  const std::optional<std::u16string> folder = ipc::DecodeSetPathPayload(payload);
  if (!folder) {
    w.log.Write("MSG_SET_PATH refused: the folder is not terminated");
    return;
  }
  if (const std::string reason = CheckDataFolderText(*folder); !reason.empty()) {
    w.log.Write("MSG_SET_PATH refused: " + reason);
    return;
  }
  DWORD error = 0;
  std::optional<PipeClient> client = IdentifyPipeClient(w.pipe.Get(), &error);
  if (!client) {
    w.log.WriteCode("MSG_SET_PATH refused: the sender cannot be identified", error);
    return;
  }
  const std::u16string expected = ToU16(client->local_app_data) + u"\\" + ToU16(kProductFolderName);
  if (!SameFolderText(*folder, expected)) {
    w.log.Write("MSG_SET_PATH refused: the folder is not the sender's data folder");
    return;
  }
  const DataFolderPaths paths = DerivePaths(*folder);
  if (PathHasReparsePoint(ToWide(paths.folder))) {
    w.log.Write("MSG_SET_PATH refused: the folder is reached through a link");
    return;
  }
  w.session = ClientSession{paths, std::move(client->token)};
  w.log.Write("All paths updated");
  ::SetEvent(w.sync_event.Get());
}

// Reads and handles one message on the connected pipe.
void HandlePipeMessage(Worker& w) {
  UniqueEvent read_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!read_event) w.log.WriteCode("Failed to create dummy event", ::GetLastError());
  PipeReader reader(w.pipe.Get(), read_event.Get());

  ipc::MessageCodeBytes code_bytes{};
  const ReadResult code_read = reader.Read(code_bytes.data(), code_bytes.size(), ipc::kCodeReadTimeoutMs);
  switch (code_read.outcome) {
    case ReadOutcome::kComplete:
      break;
    case ReadOutcome::kStartFailed:
      w.log.WriteCode("Reading from pipe failed", code_read.error);
      return;
    case ReadOutcome::kTimedOut:
      w.log.Write("No data arrived from the pipe");
      return;
    case ReadOutcome::kWaitFailed:
      w.log.WriteCode("Failed to receive data from the pipe", code_read.error);
      return;
    case ReadOutcome::kUnexpected:
      w.log.Append("Unexpected behavior while waiting for data from pipe. ");
      w.log.AppendNumber(static_cast<int32_t>(code_read.error));
      w.log.Write("");
      return;
    case ReadOutcome::kIncomplete:
      w.log.WriteCode("Reading from pipe failed", code_read.error);
      return;
  }

  switch (ipc::DecodeMessageCode(code_bytes)) {
    case ipc::MSG_SET_PATH: {
      w.log.Write("Message MSG_SET_PATH");
      ipc::SetPathPayload payload{};
      const ReadResult payload_read = reader.Read(payload.data(), payload.size(), ipc::kPayloadReadTimeoutMs);
      if (payload_read.outcome == ReadOutcome::kComplete) {
        StoreClientPaths(w, payload);
      } else if (payload_read.outcome == ReadOutcome::kIncomplete) {
        w.log.Write("MSG_SET_PATH refused: the message is incomplete");
      }
      break;
    }
    case ipc::MSG_CHECK_ROUTES:
      w.guard->CheckRoutes();
      break;
    default:
      break;
  }
}

// Makes sure an earlier OpenVPN is gone: it holds the management port.
void RetireDepartingOpenVpn(Worker& w) {
  if (!w.departing) return;
  if (::WaitForSingleObject(w.departing->process.Get(), kDepartingGraceMs) == WAIT_TIMEOUT) {
    w.log.Write("OpenVPN did not exit when told to; ending it");
    ::TerminateProcess(w.departing->process.Get(), 1);
    ::WaitForSingleObject(w.departing->process.Get(), kDepartingGraceMs);
  }
  w.departing.reset();
  w.departing_exit_event.Reset();
}

void Supervise(Worker& w, RunningOpenVpn& openvpn, UniqueEvent& exit_event) {
  w.log.Write("OpenVPN is fired. Waiting for events");
  // Not running: the client is gone, and this creates an unowned mutex that
  // the wait below takes at once.
  UniqueMutex client_mutex(::CreateMutexW(nullptr, FALSE, ToWide(ipc::kClientMutexName).c_str()));
  for (;;) {
    const HANDLE handles[] = {openvpn.process.Get(), client_mutex.Get(), w.stop_event.Get(), w.listen.hEvent};
    const DWORD result = ::WaitForMultipleObjects(4, handles, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) {
      w.log.Write("OpenVPN process terminated");
      break;
    }
    // A client that ends never releases its mutex, so its end usually comes
    // as an abandoned mutex, which this thread now owns once, like a plain
    // acquisition: both are released once below.
    const bool client_gone = result == WAIT_OBJECT_0 + 1 || result == WAIT_ABANDONED_0 + 1;
    if (client_gone || result == WAIT_OBJECT_0 + 2) {
      w.log.Write(client_gone ? "Tool terminated" : "System requesting service shutdown");
      ipc::SignalOpenVpnExit();
      // Not waited for here; the next start, or the service's stop, makes
      // sure it is gone.
      w.departing = std::move(openvpn);
      w.departing_exit_event = std::move(exit_event);
      break;
    }
    if (result == WAIT_OBJECT_0 + 3) {
      HandlePipeMessage(w);
      Relisten(w);
      continue;
    }
    if (result == WAIT_FAILED) BackOffAfterFailedWait(w);
  }
  if (client_mutex) ::ReleaseMutex(client_mutex.Get());
  // The tunnel is down: the machine gets its own default routes back.
  w.guard->RestoreRoutes();
}

void StartAndSupervise(Worker& w) {
  w.log.Write("Connection tool requests Open VPN startup");
  if (!w.session) {
    w.log.Write("No data folder has been set; OpenVPN is not started");
    return;
  }
  RetireDepartingOpenVpn(w);
  // The exit event exists before OpenVPN does, so that an exit signalled
  // while OpenVPN is still starting stays set for it to see; without it, a
  // client that goes away at once would leave OpenVPN running for good.
  SECURITY_ATTRIBUTES event_attributes{sizeof event_attributes, w.event_descriptor.Get(), FALSE};
  UniqueEvent exit_event(::CreateEventW(&event_attributes, TRUE, FALSE, ToWide(ipc::kExitEventName).c_str()));
  // A stale signal from an earlier connection must not stop this one.
  if (exit_event) ::ResetEvent(exit_event.Get());
  std::optional<RunningOpenVpn> openvpn = StartOpenVpn(w.log, *w.session, w.openvpn_program, w.service_folder);
  if (!openvpn) return;
  Supervise(w, *openvpn, exit_event);
}

void SetUp(Worker& w) {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  // The stop event exists before the service says it is running, so that a
  // stop control always finds something to set.
  w.stop_event.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const DWORD stop_event_error = ::GetLastError();
  PublishStopEvent(w.stop_event.Get());

  if (!ReportStatusToSCMgr(SERVICE_RUNNING, 0)) w.log.WriteCode("ReportStatusToSCMgr failed", ::GetLastError());

  w.pipe_descriptor = DescriptorFromSddl(kPipeSddl);
  w.event_descriptor = DescriptorFromSddl(kEventSddl);
  if (!w.pipe_descriptor || !w.event_descriptor) {
    w.log.WriteCode("InitializeSecurityDescriptor failed", ::GetLastError());
  }
  // Not inheritable: OpenVPN has no business with the pipe or the events.
  SECURITY_ATTRIBUTES pipe_attributes{sizeof pipe_attributes, w.pipe_descriptor.Get(), FALSE};
  SECURITY_ATTRIBUTES event_attributes{sizeof event_attributes, w.event_descriptor.Get(), FALSE};

  w.pipe.Reset(::CreateNamedPipeW(
      ToWide(ipc::kPipeName).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, ipc::kPipeBufferSize,
      ipc::kPipeBufferSize, 0, &pipe_attributes));
  if (!w.pipe) w.log.WriteCode("Communication pipe filed to create", ::GetLastError());

  w.sync_event.Reset(::CreateEventW(&event_attributes, FALSE, FALSE, ToWide(ipc::kSyncEventName).c_str()));
  if (!w.sync_event) w.log.WriteCode("Create sync event failed", ::GetLastError());

  if (!w.stop_event) w.log.WriteCode("CreateEvent(0, TRUE, FALSE, 0) failed", stop_event_error);

  w.open_event.Reset(::CreateEventW(&event_attributes, FALSE, FALSE, ToWide(ipc::kOpenEventName).c_str()));
  if (!w.open_event) w.log.WriteCode("CreateEvent(&sa, FALSE, FALSE, OPENVPN_OPEN) failed", ::GetLastError());

  w.listen_event.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!w.listen_event) w.log.WriteCode("CreateEvent(0, FALSE, FALSE, NULL) failed", ::GetLastError());
  w.listen.hEvent = w.listen_event.Get();

  const InstallFolderResult install = ReadInstallFolder();
  if (install.open_status != ERROR_SUCCESS) {
    w.log.WriteCode("Opening registry failed", install.open_status);
  } else if (install.query_status != ERROR_SUCCESS) {
    w.log.WriteCode("Reading registry failed", install.query_status);
  }
  w.install_folder = install.folder;
  w.openvpn_program = OpenVpnProgramPath(w.install_folder);

  w.guard.emplace(w.log, ServiceRouteTable(), w.service_folder);
  // Routes deleted by a service that did not get to put them back.
  w.guard->RestoreRoutes();

  Listen(w, true);
}

void ShutDown(Worker& w) {
  w.log.Write("System requesting service shutdown");
  ipc::SignalOpenVpnExit();
  RetireDepartingOpenVpn(w);
  w.guard->RestoreRoutes();
  PublishStopEvent(nullptr);
  if (w.pipe) ::CancelIoEx(w.pipe.Get(), &w.listen);
  w.stop_event.Reset();
  w.open_event.Reset();
  w.listen_event.Reset();
  w.pipe.Reset();
  w.sync_event.Reset();
  w.session.reset();
  ReportStatusToSCMgr(SERVICE_STOPPED, 0);
}

}  // namespace

void RunWorker() {
  Worker w;
  // The log lives in the service folder, so the folder comes first.
  w.service_folder = ServiceFolder::Prepare();
  w.log = OpenServiceLog(w.service_folder);
  w.log.Write("Service started");
  for (const std::string& note : w.service_folder.notes()) w.log.Write(note);
  SetUp(w);

  for (;;) {
    w.log.Write("Service is waiting for events");
    const HANDLE handles[] = {w.stop_event.Get(), w.open_event.Get(), w.listen_event.Get()};
    const DWORD result = ::WaitForMultipleObjects(3, handles, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) break;
    if (result == WAIT_OBJECT_0 + 1) {
      w.wait_failure_logged = false;
      StartAndSupervise(w);
    } else if (result == WAIT_OBJECT_0 + 2) {
      w.wait_failure_logged = false;
      HandlePipeMessage(w);
      Relisten(w);
    } else if (result == WAIT_FAILED) {
      BackOffAfterFailedWait(w);
    }
  }
  ShutDown(w);
  w.log.Close();
}

}  // namespace veltrona::service
