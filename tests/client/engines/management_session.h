// Plays the management socket for ManagementDialogue in tests: what the
// client sends collects in `wire`, its actions as short readable texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "client/engines/management_dialogue.h"
#include "client/engines/management_text.h"
#include "tests/test_text.h"

namespace veltrona::engines::testing {

using test_support::Ascii;

inline std::string Describe(const Action& action) {
  switch (action.kind) {
    case ActionKind::kReportState: return "state " + std::to_string(action.state);
    case ActionKind::kShowStatus: return "status " + Ascii(action.text);
    case ActionKind::kShowStatistics:
      return "stats " + Ascii(ByteCountText(action.received)) + " / " + Ascii(ByteCountText(action.sent));
    case ActionKind::kCloseConnection: return "close";
    case ActionKind::kShowMessage:
      return "message " + Ascii(action.text) + " | " + Ascii(action.caption) +
             (action.icon == MessageIcon::kError ? " | error" : " | warning");
    case ActionKind::kShowLoginFailedDialog: return "login failed";
    case ActionKind::kPause: return "pause " + std::to_string(action.milliseconds);
    case ActionKind::kRetryConnect: return "retry " + std::to_string(action.milliseconds);
  }
  return "?";
}

class Session {
 public:
  static constexpr size_t kUnlimited = static_cast<size_t>(-1);
  // Bytes the socket takes per send() call, and in all until it is full.
  size_t chunk = kUnlimited;
  size_t room = kUnlimited;
  size_t sends = 0;
  std::string wire;

  ManagementDialogue dialogue;

  void Start(std::string user = "1001", std::string password = "secret") {
    dialogue.Start(std::move(user), std::move(password));
    dialogue.OnConnectAttempt(0);
    dialogue.OnConnectResult(0, 1);
    Pump();
  }
  void Feed(std::string_view bytes) {
    dialogue.OnReceived(bytes);
    Pump();
  }
  void Close() {
    dialogue.OnClosed();
    Pump();
  }
  void Timer() {
    dialogue.OnStatisticsTimer();
    Pump();
  }
  // FD_WRITE: the socket takes `bytes` more.
  void Writable(size_t bytes) {
    room = bytes;
    Pump();
  }
  void Pump() {
    for (Action& action : dialogue.TakeActions()) actions_.push_back(Describe(action));
    while (room != 0) {
      const std::string_view pending = dialogue.PendingOutput();
      if (pending.empty()) break;
      size_t taken = pending.size() < chunk ? pending.size() : chunk;
      if (taken > room) taken = room;
      wire.append(pending.substr(0, taken));
      ++sends;
      dialogue.OnSent(taken);
      if (room != kUnlimited) room -= taken;
    }
  }
  std::vector<std::string> Actions() {
    std::vector<std::string> taken;
    taken.swap(actions_);
    return taken;
  }
  std::string Sent() {
    std::string taken;
    taken.swap(wire);
    return taken;
  }
  // Greeting, hold and password query answered as OpenVPN 2.6 does; leaves
  // the session waiting for state notifications.
  void LogIn() {
    Feed(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n");
    Feed(">HOLD:Waiting for hold release:0\r\n");
    Feed("SUCCESS: real-time state notification set to ON\r\n");
    Feed("SUCCESS: mute level changed\r\n");
    Feed("SUCCESS: hold flag set to OFF\r\n");
    Feed("SUCCESS: hold release succeeded\r\n");
    Feed(">PASSWORD:Need 'Auth' username/password\r\n");
    Feed("SUCCESS: 'Auth' username entered, but not yet verified\r\n");
    Feed("SUCCESS: 'Auth' password entered, but not yet verified\r\n");
  }
  void Connected() {
    Start();
    LogIn();
    Feed(">STATE:1700000000,CONNECTED,SUCCESS,10.235.0.2,198.51.100.7,1194,,\r\n");
    Actions();
    Sent();
  }

 private:
  std::vector<std::string> actions_;
};

inline std::string StateLine(std::string_view name) {
  return ">STATE:1700000000," + std::string(name) + ",,,,,,\r\n";
}

inline std::string StatusReply(std::string_view in, std::string_view out) {
  return "OpenVPN STATISTICS\r\nUpdated,2024-05-01 10:00:00\r\nTUN/TAP read bytes," + std::string(out) +
         "\r\nTUN/TAP write bytes," + std::string(in) + "\r\nTCP/UDP read bytes," + std::string(in) +
         "\r\nTCP/UDP write bytes," + std::string(out) + "\r\nAuth read bytes," + std::string(out) + "\r\nEND\r\n";
}

}  // namespace veltrona::engines::testing
