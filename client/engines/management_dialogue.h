// The client's side of OpenVPN's management dialogue, without the socket.
//
// The Winsock adapter feeds it what happens (connect outcomes, received
// bytes, how much a send took, the close, the statistics timer) and carries
// out what it decides: the actions it queues, and the bytes PendingOutput()
// holds. Everything runs on the window thread; nothing here blocks.
//
// How the adapter drives it, per WM_VPN_SOCKET or timer:
//   1. call the matching On...() method;
//   2. take all actions with TakeActions() and carry them out in order
//      (message boxes are modal, so take them all before showing one);
//   3. while PendingOutput() is not empty: send() it, and report what the
//      socket took with OnSent(); stop when send() would block (FD_WRITE
//      comes later) or fails.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "client/common/texts.h"
#include "client/engines/engine_state.h"
#include "client/engines/management_line_framer.h"

namespace veltrona::engines {

enum class MessageIcon { kWarning, kError };

enum class ActionKind {
  // `state` is the new engine state (0, 1, 3): refresh the window; at 3 also
  // apply Pixelguard if its box is ticked.
  kReportState,
  // `text` for the status control.
  kShowStatus,
  // `received` and `sent` for the statistics controls (see ByteCountText).
  kShowStatistics,
  // Close the management socket and set OpenVPN's exit event.
  kCloseConnection,
  // A message box: `text`, `caption`, `icon`, owned by the main window.
  kShowMessage,
  // The modal "wrong VPN ID/activation code" dialog.
  kShowLoginFailedDialog,
  // Wait `milliseconds` before sending what is pending.
  kPause,
  // Start connecting the socket again after `milliseconds` (0: at once),
  // then call OnConnectAttempt().
  kRetryConnect,
};

struct Action {
  ActionKind kind = ActionKind::kReportState;
  int state = 0;
  std::u16string text;
  std::u16string caption;
  MessageIcon icon = MessageIcon::kWarning;
  int64_t received = 0;
  int64_t sent = 0;
  uint32_t milliseconds = 0;
};

inline constexpr uint64_t kConnectWindowMs = 15000;
// Refused loopback connects can fail at once; retries are spaced by this.
inline constexpr uint64_t kConnectRetrySpacingMs = 100;
inline constexpr uint32_t kGreetingPauseMs = 100;
// A server that floods notifications must not grow the queue without end.
inline constexpr size_t kMaxQueuedCommands = 32;

using common::kMessageCaption;
inline constexpr std::u16string_view kErrorCaption = u"Error";
inline constexpr std::u16string_view kConnectionLostText = u"Connection lost. Try to reconnect later.";
inline constexpr std::u16string_view kServiceNotStartedText =
    u"Service VeltronaVPN isn't started! Try to reinstall Veltrona VPN Free Trial";
inline constexpr std::u16string_view kForeignListenerText =
    u"Another program is using the port of the VPN connection (127.0.0.1:13247), so Veltrona VPN did not send your "
    u"VPN ID and activation code to it. Close that program and connect again.";

class ManagementDialogue {
 public:
  // A connection attempt begins (the socket exists and is asynchronous):
  // state 1. The credentials are already in the ANSI code page.
  void Start(std::string user_name, std::string password);
  // The adapter has just called connect(); the first call opens the window
  // of kConnectWindowMs. `now_ms` is a monotonic clock.
  void OnConnectAttempt(uint64_t now_ms);
  // FD_CONNECT with its Winsock error code (0: connected).
  void OnConnectResult(int error, uint64_t now_ms);
  // The service could not be asked to start OpenVPN (no pipe): nothing will
  // ever listen, so the attempt ends without waiting out the window.
  void OnServiceUnavailable();
  // The management connection was accepted by a program other than the
  // installed OpenVPN. Nothing may be sent to it, and waiting on cannot
  // help: the attempt ends here.
  void OnForeignListener();
  // Bytes received from the management socket, in any segmentation.
  void OnReceived(std::string_view bytes);
  // The unsent rest of the command in flight; empty when nothing is to go.
  std::string_view PendingOutput() const;
  // The socket took `count` bytes of PendingOutput().
  void OnSent(size_t count);
  // FD_CLOSE: the management connection is gone.
  void OnClosed();
  // The one-second statistics timer.
  void OnStatisticsTimer();
  // Disconnect from outside (the user, the exit sequence): the adapter closes
  // the socket and sets the exit event itself.
  void Disconnect();

  std::vector<Action> TakeActions();

  // Safe from any thread: the browser watch reads it on COM's threads while
  // this thread changes it.
  int state() const { return state_.load(std::memory_order_acquire); }
  // Between Start() and the end of that attempt.
  bool active() const { return active_; }
  const std::string& last_state_name() const { return last_state_name_; }
  // Commands queued, the one in flight included.
  size_t queued_commands() const { return queue_.size(); }
  bool command_in_flight_sent() const { return !queue_.empty() && queue_.front().sent == queue_.front().text.size(); }
  size_t buffered_bytes() const { return framer_.buffered(); }

 private:
  struct Command {
    std::string text;  // with its LF
    size_t sent = 0;
  };
  enum class StatusBlock {
    kNone,
    kCounted,  // a reply to the command in flight: counters parsed at its END
    kIgnored,  // came with no command waiting for it: skipped up to its END
  };

  [[nodiscard]] bool HandleLine(std::string_view text, bool cut);
  void HandleNotification(std::string_view text);
  void HandleReply(std::string_view text, bool cut);
  void HandleStatusLine(std::string_view text, bool cut);
  void HandleState(std::string_view text);
  void HandlePassword(std::string_view text);
  void Queue(std::string text);
  void ReplyArrived();
  enum class EndReason { kConnectionLost, kLoginRejected, kServiceNotStarted, kForeignListener };
  // Ends the session from inside: close, state 0, then the reason shown.
  void EndSession(EndReason reason);
  static EndReason LostOr(bool login_rejected);
  void ResetSession();
  void ReportState(int state);
  void Emit(Action action) { actions_.push_back(std::move(action)); }

  // Written only by this thread; read by others through state().
  std::atomic<int> state_ = ENGINE_DISCONNECTED;
  bool active_ = false;  // between Start() and the end of the session
  std::string user_name_;
  std::string password_;
  std::string last_state_name_;
  bool login_rejected_ = false;
  uint64_t deadline_ms_ = 0;
  uint64_t last_attempt_ms_ = 0;
  bool attempted_ = false;
  ManagementLineFramer framer_;
  std::deque<Command> queue_;
  StatusBlock status_block_ = StatusBlock::kNone;
  int64_t received_ = 0;
  int64_t sent_ = 0;
  bool read_found_ = false;
  bool write_found_ = false;
  std::vector<Action> actions_;
};

}  // namespace veltrona::engines
