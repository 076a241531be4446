#include "service/worker_win.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "ipc/management_port_win.h"
#include "ipc/protocol.h"
#include "service/client_session_win.h"
#include "service/command_pipe_win.h"
#include "service/data_folder.h"
#include "service/named_objects_win.h"
#include "service/openvpn_launch_win.h"
#include "service/route_guard_win.h"
#include "service/security_win.h"
#include "service/service_control_win.h"
#include "service/service_folder_win.h"
#include "service/service_log_win.h"
#include "service/start_request.h"

namespace veltrona::service {

namespace {

// A wait that fails keeps failing; the worker then watches only its stop
// event for this long before it tries again.
constexpr DWORD kFailedWaitBackoffMs = 1000;
// How often the worker tries again to make the named objects that someone
// else's objects of the same name kept it from making.
constexpr DWORD kObjectRetryMs = 5000;
// How long a told-to-exit OpenVPN may take before it is ended, before the
// next one starts or while the service stops.
constexpr DWORD kDepartingGraceMs = 10000;
constexpr DWORD kShutdownGraceMs = 5000;

// What an accepted MSG_SET_PATH left.
struct Session {
  ClientSession client;        // the paths, and the sender's token
  UniqueProcess sender;        // the process that sent it
  std::vector<BYTE> user_sid;  // the sender's account
  ULONGLONG stored_at = 0;
  ULONGLONG acknowledged_at = 0;  // the sync event was set; 0 while held back
  bool used = false;              // a start was made (or refused) for it
};

// An OpenVPN that was told to exit but not waited for (the client went
// away, or the service is stopping).
struct Departing {
  RunningOpenVpn openvpn;
  ULONGLONG deadline = 0;
};

// Everything the worker owns for as long as the service runs.
struct Worker {
  ServiceLog log;
  UniqueSecurityDescriptor pipe_descriptor;
  UniqueSecurityDescriptor event_descriptor;
  SECURITY_ATTRIBUTES pipe_attributes{};
  SECURITY_ATTRIBUTES event_attributes{};
  std::optional<CommandPipe> pipe;
  ServiceEvent sync_event{"Create sync event", ToWide(ipc::kSyncEventName), false};
  ServiceEvent open_event{"CreateEvent(&sa, FALSE, FALSE, OPENVPN_OPEN)", ToWide(ipc::kOpenEventName), false};
  // Made by the service, not by OpenVPN, and kept for the service's whole
  // run: an exit the client asks for after its start request then always
  // finds the event, whether or not OpenVPN exists yet.
  ServiceEvent exit_event{"Create exit event", ToWide(ipc::kExitEventName), true};
  UniqueEvent stop_event;
  ULONGLONG next_object_retry = 0;
  std::wstring install_folder;
  std::wstring openvpn_program;
  ServiceFolder service_folder;
  std::optional<Session> session;
  std::optional<RouteGuard> guard;
  bool wait_failure_logged = false;
  // The OpenVPN being supervised, and whose it is.
  bool supervising = false;
  std::vector<BYTE> openvpn_user_sid;
  // An open request that came while OpenVPN ran; served once it has ended.
  std::optional<ULONGLONG> open_requested_at;
  std::optional<Departing> departing;
};

ULONGLONG Now() { return ::GetTickCount64(); }

bool AllObjectsMade(const Worker& w) {
  return w.pipe->IsOpen() && w.sync_event.IsValid() && w.open_event.IsValid() && w.exit_event.IsValid();
}

void MakeObjects(Worker& w) {
  // Each failure is logged where it happens; AllObjectsMade decides, and
  // what is missing is made again after kObjectRetryMs.
  (void)w.pipe->Open();
  (void)w.sync_event.Create(w.log, &w.event_attributes);
  (void)w.open_event.Create(w.log, &w.event_attributes);
  (void)w.exit_event.Create(w.log, &w.event_attributes);
  w.next_object_retry = Now() + kObjectRetryMs;
}

void RetireDeparting(Worker& w, DWORD grace_ms);
void AcknowledgeHeldBackPaths(Worker& w);

// The client learns that its paths are stored. From here on, an exit it
// asks for belongs to the start it is about to request.
void AcknowledgePaths(Worker& w) {
  ::ResetEvent(w.exit_event.Get());
  w.session->acknowledged_at = Now();
  ::SetEvent(w.sync_event.Get());
}

void StoreClientPaths(Worker& w, const PipeMessage& message) {
  // OpenVPN's management port is the same for everyone: a second user's
  // client would hand its credentials to the first user's OpenVPN.
  const BusyForOtherUser busy = [&w](const std::vector<BYTE>& user_sid) -> std::optional<std::string> {
    if ((w.supervising || w.departing) && user_sid != w.openvpn_user_sid) return "OpenVPN is running for another user";
    if (w.session && !w.session->used && w.session->user_sid != user_sid &&
        Now() - w.session->stored_at <= kOpenRequestWindowMs) {
      return "another user's connection request is pending";
    }
    return std::nullopt;
  };
  std::optional<AcceptedPaths> accepted = AcceptSetPath(message, w.log, busy);
  if (!accepted) return;
  w.session.emplace();
  w.session->client = std::move(accepted->client);
  w.session->sender = std::move(accepted->sender);
  w.session->user_sid = std::move(accepted->user_sid);
  w.session->stored_at = Now();
  w.log.Write("All paths updated");
  // An OpenVPN that was told to exit still owns the exit event's signal:
  // the acknowledgement waits until it has gone.
  const bool exit_pending = w.supervising && IsEventSet(w.exit_event.Get());
  if (!exit_pending && !w.departing) AcknowledgePaths(w);
}

void HandleMessage(Worker& w, const PipeMessage& message) {
  switch (message.code) {
    case ipc::MSG_SET_PATH:
      StoreClientPaths(w, message);
      break;
    case ipc::MSG_CHECK_ROUTES:
      w.guard->CheckRoutes();
      break;
    default:
      break;
  }
}

constexpr size_t kPipeActivity = static_cast<size_t>(-1);

// Waits until one of `state_handles` fires and returns its index (a null
// entry is never waited on), or returns kPipeActivity once a pipe client has
// been served. Pipe reads, a departing OpenVPN and the retries of the named
// objects are looked after on the way; nothing here waits for long on
// anything but the handles, and the stop event is always among them.
size_t WaitForWork(Worker& w, const std::vector<HANDLE>& state_handles) {
  const CommandPipe::Handler handler = [&w](const PipeMessage& message) { HandleMessage(w, message); };
  for (;;) {
    std::vector<HANDLE> handles;
    std::vector<size_t> state_index;
    for (size_t i = 0; i < state_handles.size(); ++i) {
      if (state_handles[i] == nullptr) continue;
      handles.push_back(state_handles[i]);
      state_index.push_back(i);
    }
    const size_t pipe_first = handles.size();
    w.pipe->AppendWaitHandles(handles);
    const size_t departing_index = handles.size();
    if (w.departing) handles.push_back(w.departing->openvpn.process.Get());

    const ULONGLONG now = Now();
    DWORD timeout = w.pipe->MillisecondsToNextDeadline();
    if (w.departing) timeout = std::min<DWORD>(timeout, w.departing->deadline <= now ? 0 : static_cast<DWORD>(w.departing->deadline - now));
    if (!AllObjectsMade(w)) {
      timeout = std::min<DWORD>(timeout, w.next_object_retry <= now ? 0 : static_cast<DWORD>(w.next_object_retry - now));
    }

    const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
    if (result != WAIT_FAILED) w.wait_failure_logged = false;
    if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + handles.size()) {
      const size_t index = result - WAIT_OBJECT_0;
      if (index < pipe_first) return state_index[index];
      if (index < departing_index) {
        if (w.pipe->OnEvent(index - pipe_first, handler)) return kPipeActivity;
        continue;
      }
      RetireDeparting(w, 0);
      continue;
    }
    // An abandoned mutex: its holder died, which is an answer too.
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + pipe_first) return state_index[result - WAIT_ABANDONED_0];
    if (result == WAIT_TIMEOUT) {
      if (w.departing && Now() >= w.departing->deadline) RetireDeparting(w, 0);
      if (!AllObjectsMade(w) && Now() >= w.next_object_retry) MakeObjects(w);
      if (w.pipe->OnDeadlines()) return kPipeActivity;
      continue;
    }
    // A handle went bad under the worker. The stop event is watched alone
    // for a while, so that a stop is seen whatever else fails.
    if (!w.wait_failure_logged) w.log.WriteCode("Waiting for events failed", ::GetLastError());
    w.wait_failure_logged = true;
    if (::WaitForSingleObject(w.stop_event.Get(), kFailedWaitBackoffMs) == WAIT_OBJECT_0) {
      // The stop event's own slot, wherever the caller put it.
      const auto stop = std::find(state_handles.begin(), state_handles.end(), w.stop_event.Get());
      return static_cast<size_t>(stop - state_handles.begin());
    }
  }
}

// Makes sure a told-to-exit OpenVPN is gone, within `grace_ms` at most
// beyond its own deadline.
void RetireDeparting(Worker& w, DWORD grace_ms) {
  if (!w.departing) return;
  HANDLE process = w.departing->openvpn.process.Get();
  const ULONGLONG now = Now();
  const DWORD wait = w.departing->deadline > now ? static_cast<DWORD>(std::min<ULONGLONG>(w.departing->deadline - now, grace_ms)) : 0;
  if (::WaitForSingleObject(process, wait) == WAIT_TIMEOUT) {
    if (Now() < w.departing->deadline && grace_ms == 0) return;  // not yet
    w.log.Write("OpenVPN did not exit when told to; ending it");
    ::TerminateProcess(process, 1);
    ::WaitForSingleObject(process, kShutdownGraceMs);
  }
  w.departing.reset();
  AcknowledgeHeldBackPaths(w);
}

// Paths that came while an OpenVPN was on its way out are acknowledged once
// it has gone, if their client is still waiting for that.
void AcknowledgeHeldBackPaths(Worker& w) {
  if (!w.session || w.session->used || w.session->acknowledged_at != 0 || w.supervising || w.departing) return;
  if (Now() - w.session->stored_at > ipc::kSyncWaitTimeoutMs) {
    w.log.Write("MSG_SET_PATH dropped: the connection tool stopped waiting for it");
    w.session.reset();
    return;
  }
  AcknowledgePaths(w);
}

void TellOpenVpnToExit(Worker& w, RunningOpenVpn& openvpn) {
  ::SetEvent(w.exit_event.Get());
  // Not waited for here; the next start, or the service's stop, makes sure
  // it is gone.
  w.departing = Departing{std::move(openvpn), Now() + kDepartingGraceMs};
}

// What the worker waits on while OpenVPN runs, in WaitForWork's order.
enum SupervisionSlot : size_t {
  kOpenVpnEnded,
  kClientMutex,  // acquired or abandoned: the client is gone
  kServiceStop,
  kSenderEnded,  // the process that asked for this OpenVPN
  kOpenRequest,
  kSupervisionSlots,
};

// What the idle worker waits on.
enum IdleSlot : size_t {
  kIdleServiceStop,
  kIdleOpenRequest,
  kIdleSlots,
};

void Supervise(Worker& w, RunningOpenVpn& openvpn, UniqueMutex client_mutex, HANDLE sender) {
  w.log.Write("OpenVPN is fired. Waiting for events");
  w.supervising = true;
  bool own_mutex = false;
  for (;;) {
    // The open event is watched too, so that a request that comes now is
    // timed from when it came, and served when this OpenVPN has ended.
    std::vector<HANDLE> handles(kSupervisionSlots);
    handles[kOpenVpnEnded] = openvpn.process.Get();
    handles[kClientMutex] = client_mutex.Get();
    handles[kServiceStop] = w.stop_event.Get();
    handles[kSenderEnded] = sender;
    handles[kOpenRequest] = w.open_event.Get();
    const size_t result = WaitForWork(w, handles);
    if (result == kOpenVpnEnded) {
      w.log.Write("OpenVPN process terminated");
      break;
    }
    // A client that ends never releases its mutex, so its end comes as an
    // abandoned mutex, which this thread then owns, like an acquisition.
    // The process that asked for this OpenVPN ending means the same.
    if (result == kClientMutex || result == kSenderEnded || result == kServiceStop) {
      own_mutex = result == kClientMutex;
      w.log.Write(result == kServiceStop ? "System requesting service shutdown" : "Tool terminated");
      TellOpenVpnToExit(w, openvpn);
      break;
    }
    if (result == kOpenRequest) w.open_requested_at = Now();
  }
  if (own_mutex) ::ReleaseMutex(client_mutex.Get());
  w.supervising = false;
  // The tunnel is down: the machine gets its own default routes back.
  w.guard->RestoreRoutes();
  AcknowledgeHeldBackPaths(w);
}

void StartAndSupervise(Worker& w, ULONGLONG requested_at) {
  w.log.Write("Connection tool requests Open VPN startup");
  StartRequestFacts facts;
  UniqueMutex client_mutex;
  if (w.session) {
    Session& s = *w.session;
    facts.have_paths = true;
    facts.paths_used = s.used || s.acknowledged_at == 0;
    facts.request_age_ms = requested_at >= s.acknowledged_at ? requested_at - s.acknowledged_at : 0;
    facts.sender_running = ::WaitForSingleObject(s.sender.Get(), 0) == WAIT_TIMEOUT;
    facts.client_mutex = OpenClientMutex(ToWide(ipc::kClientMutexName), &client_mutex);
    facts.exit_event_ready = w.exit_event.IsValid();
    facts.exit_requested = IsEventSet(w.exit_event.Get());
  }
  if (const std::string refusal = RefuseStart(facts); !refusal.empty()) {
    w.log.Write(refusal);
    if (w.session && !w.session->used && w.session->acknowledged_at != 0) w.session->used = true;
    return;
  }
  w.session->used = true;
  RetireDeparting(w, kDepartingGraceMs);
  // Whoever listens there would be handed the user's credentials.
  if (ipc::ManagementPortTaken()) {
    w.log.Write("The management port " + std::to_string(ipc::kManagementPort) +
                " is in use by another program; OpenVPN is not started");
    return;
  }
  // The look at the port takes a moment; the client may have given up since.
  facts.exit_requested = IsEventSet(w.exit_event.Get());
  if (const std::string refusal = RefuseStart(facts); !refusal.empty()) {
    w.log.Write(refusal);
    return;
  }
  std::optional<RunningOpenVpn> openvpn = StartOpenVpn(w.log, w.session->client, w.openvpn_program, w.service_folder);
  if (!openvpn) return;
  w.openvpn_user_sid = w.session->user_sid;
  // The sender's handle outlives a later MSG_SET_PATH that replaces the
  // session while this OpenVPN runs.
  UniqueProcess sender;
  HANDLE duplicate = nullptr;
  if (::DuplicateHandle(::GetCurrentProcess(), w.session->sender.Get(), ::GetCurrentProcess(), &duplicate, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
    sender.Reset(duplicate);
  }
  Supervise(w, *openvpn, std::move(client_mutex), sender.Get());
}

void SetUp(Worker& w) {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  if (!ReportStatusToSCMgr(SERVICE_RUNNING, 0)) w.log.WriteCode("ReportStatusToSCMgr failed", ::GetLastError());

  w.pipe_descriptor = DescriptorFromSddl(kPipeSddl);
  w.event_descriptor = DescriptorFromSddl(kEventSddl);
  if (!w.pipe_descriptor || !w.event_descriptor) {
    w.log.WriteCode("InitializeSecurityDescriptor failed", ::GetLastError());
  }
  // Not inheritable: OpenVPN has no business with the pipe or the events.
  w.pipe_attributes = SECURITY_ATTRIBUTES{sizeof w.pipe_attributes, w.pipe_descriptor.Get(), FALSE};
  w.event_attributes = SECURITY_ATTRIBUTES{sizeof w.event_attributes, w.event_descriptor.Get(), FALSE};
  w.pipe.emplace(w.log, ToWide(ipc::kPipeName), &w.pipe_attributes);
  MakeObjects(w);

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
}

void ShutDown(Worker& w) {
  w.log.Write("System requesting service shutdown");
  if (w.exit_event.IsValid()) ::SetEvent(w.exit_event.Get());
  RetireDeparting(w, kShutdownGraceMs);
  w.guard->RestoreRoutes();
  PublishStopEvent(nullptr);
  w.pipe.reset();
  w.open_event.Close();
  w.sync_event.Close();
  w.exit_event.Close();
  w.session.reset();
  w.stop_event.Reset();
  // The last word to the control manager; a refusal changes nothing here.
  (void)ReportStatusToSCMgr(SERVICE_STOPPED, 0);
}

}  // namespace

void RunWorker() {
  Worker w;
  // The log lives in the service folder, so the folder comes first.
  w.service_folder = ServiceFolder::Prepare();
  w.log = OpenServiceLog(w.service_folder);
  w.log.Write("Service started");
  for (const std::string& note : w.service_folder.notes()) w.log.Write(note);
  // The stop event exists before the service says it is running, so that a
  // stop control always finds something to set. Without it the service
  // could never be stopped, so it does not run at all.
  w.stop_event.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!w.stop_event) {
    w.log.WriteCode("CreateEvent(0, TRUE, FALSE, 0) failed", ::GetLastError());
    (void)ReportStatusToSCMgr(SERVICE_STOPPED, 0);  // stopping either way
    w.log.Close();
    return;
  }
  PublishStopEvent(w.stop_event.Get());
  SetUp(w);

  for (;;) {
    w.log.Write("Service is waiting for events");
    // A request that came while the last OpenVPN ran is served now, unless
    // the service is stopping.
    if (w.open_requested_at && !IsEventSet(w.stop_event.Get())) {
      const ULONGLONG requested_at = *w.open_requested_at;
      w.open_requested_at.reset();
      StartAndSupervise(w, requested_at);
      continue;
    }
    w.open_requested_at.reset();
    std::vector<HANDLE> handles(kIdleSlots);
    handles[kIdleServiceStop] = w.stop_event.Get();
    handles[kIdleOpenRequest] = w.open_event.Get();
    const size_t result = WaitForWork(w, handles);
    if (result == kIdleServiceStop) break;
    if (result == kIdleOpenRequest) StartAndSupervise(w, Now());
  }
  ShutDown(w);
  w.log.Close();
}

}  // namespace veltrona::service
