// A hostile or broken management server: arbitrary bytes in arbitrary
// segments, sockets that take any number of bytes, closes and timers in any
// order. The dialogue must not crash, must stay bounded, must only ever put
// whole known commands on the wire one after another, and must recover once
// the server behaves again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "client/engines/management_dialogue.h"
#include "client/engines/management_text.h"

using namespace veltrona::engines;

namespace {

const std::string kUser = "id \"x\\";
const std::string kPassword = "p\nw d";

constexpr std::string_view kDictionary[] = {
    ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n",
    ">HOLD:Waiting for hold release:0\r\n",
    ">PASSWORD:Need 'Auth' username/password\r\n",
    ">PASSWORD:Verification Failed: 'Auth'\r\n",
    ">STATE:1,AUTH,,,,,,\r\n",
    ">STATE:1,CONNECTED,SUCCESS,10.235.0.2,1.2.3.4,1194,,\r\n",
    ">STATE:1,RECONNECTING,x,,\r\n",
    ">STATE:1,EXITING,auth-failure,,,,,\r\n",
    ">STATE:1,WAIT,,\r\n",
    ">LOG:1,I,text\r\n",
    "SUCCESS: ok\r\n",
    "ERROR: no\r\n",
    "OpenVPN STATISTICS\r\n",
    "TCP/UDP read bytes,123\r\n",
    "TCP/UDP write bytes,99999999999\r\n",
    "END\r\n",
    "\n",
    "\r\n",
};

class Harness {
 public:
  Harness() {
    allowed_ = {"state on", "mute 40", "hold off", "hold release", "status", AuthCommand("username", kUser),
                AuthCommand("password", kPassword)};
  }

  void Start() {
    dialogue_.Start(kUser, kPassword);
    wire_.clear();
    partial_.clear();
    Pump();
  }

  ManagementDialogue& dialogue() { return dialogue_; }

  // An adapter that reports more than it was offered.
  void OverReport(size_t extra) {
    const std::string_view pending = dialogue_.PendingOutput();
    wire_.append(pending);
    partial_.clear();
    dialogue_.OnSent(pending.size() + extra);
    if (!dialogue_.PendingOutput().empty() && !pending.empty()) std::abort();
  }
  size_t room = static_cast<size_t>(-1);

  void Pump() {
    const size_t taken = dialogue_.TakeActions().size();
    if (taken > 64) std::abort();  // no single event yields more than a handful
    while (room != 0) {
      const std::string_view pending = dialogue_.PendingOutput();
      if (pending.empty()) break;
      // Whatever is offered continues what was on the wire, never splices.
      if (!partial_.empty() && pending != partial_) std::abort();
      const size_t n = pending.size() < room ? pending.size() : room;
      wire_.append(pending.substr(0, n));
      partial_ = std::string(pending.substr(n));
      dialogue_.OnSent(n);
      if (room != static_cast<size_t>(-1)) room -= n;
    }
    Check();
  }

  void Check() {
    if (dialogue_.queued_commands() > kMaxQueuedCommands) std::abort();
    if (dialogue_.buffered_bytes() >= kMaxManagementLineBytes) std::abort();
    const int state = dialogue_.state();
    if (state != ENGINE_DISCONNECTED && state != ENGINE_CONNECTING && state != ENGINE_CONNECTED) std::abort();
    if (!dialogue_.active()) {
      if (state != ENGINE_DISCONNECTED && state != ENGINE_CONNECTING) std::abort();
      if (dialogue_.queued_commands() != 0 || !dialogue_.PendingOutput().empty()) std::abort();
      // A session that ended mid-command leaves its tail unsent; the next starts afresh.
      wire_.clear();
      partial_.clear();
      return;
    }
    // Only whole, known commands, one after another.
    size_t start = 0;
    for (size_t lf = wire_.find('\n'); lf != std::string::npos; lf = wire_.find('\n', start)) {
      if (allowed_.count(wire_.substr(start, lf - start)) == 0) std::abort();
      start = lf + 1;
    }
    wire_.erase(0, start);
    if (wire_.size() > kMaxCommandChars) std::abort();
  }

 private:
  ManagementDialogue dialogue_;
  std::set<std::string> allowed_;
  std::string wire_;
  std::string partial_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness harness;
  harness.Start();
  uint64_t now = 0;
  harness.dialogue().OnConnectAttempt(now);
  size_t at = 0;
  auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
  while (at < size) {
    const uint8_t op = next();
    switch (op % 10) {
      case 0:
      case 1:
      case 2: {  // raw bytes from the server
        size_t n = next();
        if (n > size - at) n = size - at;
        harness.dialogue().OnReceived(std::string_view(reinterpret_cast<const char*>(data + at), n));
        at += n;
        break;
      }
      case 3: {
        const std::string_view piece = kDictionary[next() % std::size(kDictionary)];
        const size_t cut = next() % (piece.size() + 1);
        harness.dialogue().OnReceived(piece.substr(0, cut));
        harness.dialogue().OnReceived(piece.substr(cut));
        break;
      }
      case 4: harness.room = op < 128 ? next() % 8 : static_cast<size_t>(-1); break;
      case 5: harness.dialogue().OnStatisticsTimer(); break;
      case 6:
        if (op & 0x80) {
          harness.dialogue().OnClosed();
        } else if (op & 0x40) {
          harness.dialogue().Disconnect();
        } else {
          harness.Start();
        }
        break;
      case 7:
        now += next() * 250u;
        harness.dialogue().OnConnectResult(op & 0x80 ? 0 : 10061, now);
        harness.dialogue().OnConnectAttempt(now);
        break;
      case 8: harness.OverReport(next()); break;
      default: harness.dialogue().OnServiceUnavailable(); break;
    }
    harness.Pump();
  }

  // The server behaves again: the queue must empty and the dialogue go on.
  if (!harness.dialogue().active()) harness.Start();
  harness.room = static_cast<size_t>(-1);
  harness.dialogue().OnReceived("\nEND\r\n");
  harness.Pump();
  for (size_t i = 0; i <= kMaxQueuedCommands && harness.dialogue().active(); ++i) {
    if (harness.dialogue().queued_commands() == 0) break;
    harness.dialogue().OnReceived("SUCCESS: ok\r\n");
    harness.Pump();
  }
  if (harness.dialogue().active()) {
    if (harness.dialogue().queued_commands() != 0) std::abort();
    harness.dialogue().OnReceived(">HOLD:Waiting for hold release:0\r\n");
    if (harness.dialogue().PendingOutput() != "hold off\n") std::abort();
  }
  return 0;
}
