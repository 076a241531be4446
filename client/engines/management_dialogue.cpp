#include "client/engines/management_dialogue.h"

#include <optional>
#include <utility>

#include "client/engines/management_text.h"

namespace veltrona::engines {
namespace {

constexpr std::string_view kStatisticsHeader = "OpenVPN STATISTICS";
constexpr std::string_view kStatisticsEnd = "END";
constexpr std::string_view kReadBytesLabel = "TCP/UDP read bytes,";
constexpr std::string_view kWriteBytesLabel = "TCP/UDP write bytes,";
constexpr std::string_view kVerificationFailed = "Verification Failed";
constexpr std::string_view kAuthQuery = "'Auth'";

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

Action Make(ActionKind kind) {
  Action action;
  action.kind = kind;
  return action;
}

Action Message(std::u16string_view text, std::u16string_view caption, MessageIcon icon) {
  Action action;
  action.kind = ActionKind::kShowMessage;
  action.text = text;
  action.caption = caption;
  action.icon = icon;
  return action;
}

}  // namespace

void ManagementDialogue::Start(std::string user_name, std::string password) {
  ResetSession();
  active_ = true;
  user_name_ = std::move(user_name);
  password_ = std::move(password);
  attempted_ = false;
  deadline_ms_ = 0;
  last_attempt_ms_ = 0;
  ReportState(ENGINE_CONNECTING);
}

void ManagementDialogue::OnConnectAttempt(uint64_t now_ms) {
  if (!active_) return;
  if (!attempted_) deadline_ms_ = now_ms + kConnectWindowMs;
  attempted_ = true;
  last_attempt_ms_ = now_ms;
}

void ManagementDialogue::OnConnectResult(int error, uint64_t now_ms) {
  if (!active_ || error == 0) return;  // connected: OpenVPN speaks first
  if (!attempted_) OnConnectAttempt(now_ms);
  if (now_ms >= deadline_ms_) {
    return EndSession(EndReason::kServiceNotStarted);
  }
  // OpenVPN is not listening yet; try again, but never back to back.
  const uint64_t next = last_attempt_ms_ + kConnectRetrySpacingMs;
  Action retry = Make(ActionKind::kRetryConnect);
  retry.milliseconds = next > now_ms ? static_cast<uint32_t>(next - now_ms) : 0;
  Emit(std::move(retry));
}

void ManagementDialogue::OnServiceUnavailable() {
  if (!active_) return;
  EndSession(EndReason::kServiceNotStarted);
}

void ManagementDialogue::OnForeignListener() {
  if (!active_) return;
  EndSession(EndReason::kForeignListener);
}

void ManagementDialogue::OnReceived(std::string_view bytes) {
  if (!active_) return;
  framer_.Feed(bytes, [this](std::string_view text, bool cut) { return HandleLine(text, cut); });
}

std::string_view ManagementDialogue::PendingOutput() const {
  if (!active_ || queue_.empty()) return {};
  const Command& front = queue_.front();
  return std::string_view(front.text).substr(front.sent);
}

void ManagementDialogue::OnSent(size_t count) {
  if (!active_ || queue_.empty()) return;
  Command& front = queue_.front();
  // Never more than was offered, whatever the adapter reports.
  const size_t left = front.text.size() - front.sent;
  front.sent += count < left ? count : left;
}

void ManagementDialogue::OnClosed() {
  if (!active_) return;
  EndSession(LostOr(login_rejected_));
}

void ManagementDialogue::OnStatisticsTimer() {
  if (active_ && state_ == ENGINE_CONNECTED) {
    Queue("status\n");
    return;
  }
  Action zero = Make(ActionKind::kShowStatistics);
  Emit(std::move(zero));
}

void ManagementDialogue::Disconnect() {
  ResetSession();
  if (state_ != ENGINE_DISCONNECTED) ReportState(ENGINE_DISCONNECTED);
}

std::vector<Action> ManagementDialogue::TakeActions() {
  std::vector<Action> taken;
  taken.swap(actions_);
  return taken;
}

bool ManagementDialogue::HandleLine(std::string_view text, bool cut) {
  if (text.front() == '>') {
    // What was cut from an over-long notification is lost with it.
    if (!cut) HandleNotification(text.substr(1));
  } else {
    HandleReply(text, cut);
  }
  return active_;
}

void ManagementDialogue::HandleNotification(std::string_view text) {
  if (StartsWith(text, "LOG:")) return;
  if (StartsWith(text, "STATE:")) return HandleState(text.substr(6));
  if (StartsWith(text, "HOLD:")) {
    Queue("hold off\n");
    Queue("hold release\n");
    return;
  }
  if (StartsWith(text, "PASSWORD:")) return HandlePassword(text.substr(9));
  if (StartsWith(text, "INFO:")) {
    Action pause = Make(ActionKind::kPause);
    pause.milliseconds = kGreetingPauseMs;
    Emit(std::move(pause));
    Queue("state on\n");
    Queue("mute 40\n");
  }
}

void ManagementDialogue::HandleReply(std::string_view text, bool cut) {
  if (status_block_ != StatusBlock::kNone) return HandleStatusLine(text, cut);
  // A reply belongs to the command in flight only once all of it has gone;
  // anything earlier is stray, and taking it would splice the next command
  // onto the unsent rest of this one.
  const bool awaited = !queue_.empty() && queue_.front().sent == queue_.front().text.size();
  if (!cut && StartsWith(text, kStatisticsHeader)) {
    // Its lines up to END are one reply, however they were segmented.
    status_block_ = awaited ? StatusBlock::kCounted : StatusBlock::kIgnored;
    received_ = 0;
    sent_ = 0;
    read_found_ = false;
    write_found_ = false;
    return;
  }
  if (awaited) ReplyArrived();
}

void ManagementDialogue::HandleStatusLine(std::string_view text, bool cut) {
  if (!cut && text == kStatisticsEnd) {
    const bool counted = status_block_ == StatusBlock::kCounted;
    status_block_ = StatusBlock::kNone;
    if (!counted) return;
    Action statistics = Make(ActionKind::kShowStatistics);
    statistics.received = received_;
    statistics.sent = sent_;
    Emit(std::move(statistics));
    ReplyArrived();
    return;
  }
  if (cut || status_block_ != StatusBlock::kCounted) return;
  if (!read_found_) {
    if (const std::optional<int64_t> count = CounterAfter(text, kReadBytesLabel)) {
      received_ = *count;
      read_found_ = true;
    }
  }
  if (!write_found_) {
    if (const std::optional<int64_t> count = CounterAfter(text, kWriteBytesLabel)) {
      sent_ = *count;
      write_found_ = true;
    }
  }
}

void ManagementDialogue::HandleState(std::string_view text) {
  const std::optional<std::string_view> name = StateNameOf(text);
  if (!name) return;
  const StateMeaning meaning = MeaningOfState(*name);
  // Read before it is replaced: a restart right after AUTH is a rejected login.
  const bool after_auth = last_state_name_ == "AUTH";
  if (meaning.remembered) last_state_name_ = std::string(*name);
  switch (meaning.action) {
    case StateAction::kConnected:
      ReportState(ENGINE_CONNECTED);
      return;
    case StateAction::kReconnecting:
      return EndSession(LostOr(login_rejected_ || after_auth));
    case StateAction::kExiting:
      return EndSession(LostOr(login_rejected_));
    case StateAction::kProgress: {
      Action status = Make(ActionKind::kShowStatus);
      status.text = meaning.progress_text;
      Emit(std::move(status));
      return;
    }
    case StateAction::kOther:
      return;
  }
}

void ManagementDialogue::HandlePassword(std::string_view text) {
  if (StartsWith(text, kVerificationFailed)) {
    // OpenVPN ends the attempt next (EXITING, a restart or a closed
    // connection); whichever comes, it is shown as a rejected login.
    login_rejected_ = true;
    return;
  }
  if (text.find(kAuthQuery) == std::string_view::npos) return;
  if (login_rejected_) {
    // Sending the rejected credentials again can only fail again.
    return EndSession(EndReason::kLoginRejected);
  }
  Queue(AuthCommand("username", user_name_) + "\n");
  Queue(AuthCommand("password", password_) + "\n");
}

void ManagementDialogue::Queue(std::string text) {
  if (queue_.size() >= kMaxQueuedCommands) return;
  queue_.push_back(Command{std::move(text), 0});
}

void ManagementDialogue::ReplyArrived() { queue_.pop_front(); }

void ManagementDialogue::EndSession(EndReason reason) {
  Emit(Make(ActionKind::kCloseConnection));
  ResetSession();
  if (state_ != ENGINE_DISCONNECTED) ReportState(ENGINE_DISCONNECTED);
  switch (reason) {
    case EndReason::kConnectionLost:
      return Emit(Message(kConnectionLostText, kMessageCaption, MessageIcon::kWarning));
    case EndReason::kLoginRejected:
      return Emit(Make(ActionKind::kShowLoginFailedDialog));
    case EndReason::kServiceNotStarted:
      return Emit(Message(kServiceNotStartedText, kErrorCaption, MessageIcon::kError));
    case EndReason::kForeignListener:
      return Emit(Message(kForeignListenerText, kMessageCaption, MessageIcon::kWarning));
  }
}

ManagementDialogue::EndReason ManagementDialogue::LostOr(bool login_rejected) {
  return login_rejected ? EndReason::kLoginRejected : EndReason::kConnectionLost;
}

void ManagementDialogue::ResetSession() {
  active_ = false;
  framer_.Reset();
  queue_.clear();
  status_block_ = StatusBlock::kNone;
  login_rejected_ = false;
}

void ManagementDialogue::ReportState(int state) {
  state_.store(state, std::memory_order_release);
  Action report = Make(ActionKind::kReportState);
  report.state = state;
  Emit(std::move(report));
}

}  // namespace veltrona::engines
