// Stands in for openvpn.exe in tests and the demo. It accepts only the command
// line the service builds, creates the exit event named by --service and ends
// when it is set, and speaks OpenVPN 2.6's management dialogue on the given
// port: greeting, hold, password query, state notifications up to CONNECTED,
// status replies. No tunnel is made. What it does is written to standard
// output, which the service sends to the client's "log.txt".
//
// Behaviour comes from comment lines in the configuration file, so that the
// file still passes the service's checks of OpenVPN directives:
//   # standin: reject-password              answer the login with a failure
//   # standin: expect-credentials <u> <p>   accept only these (quoted as OpenVPN does)
//   # standin: drop-after-connected         close the management connection after CONNECTED
//   # standin: exit-after-connected         end the process after CONNECTED
//   # standin: slow-start <ms>              wait before listening
//   # standin: delay-states <ms>            pause before each state notification
//   # standin: split-status                 send each status reply in small pieces
//   # standin: bytes <in> <out>             link byte counters of the status reply
//   # standin: bytes-per-second <in> <out>  counters grow by this while connected
//   # standin: tun-ip <a.b.c.d>             address reported by ASSIGN_IP and CONNECTED
//   # standin: remote-address <a.b.c.d>     address a host name in "remote" resolves to
//   # standin: ignore-exit-event            keep running when the exit event is set
//   # standin: exit-code <n>                code of every orderly exit
#include "tests/peers/openvpn_standin_winsock.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_handle_win.h"
#include "tests/peers/openvpn_standin_lexer.h"

namespace {

using namespace veltrona;
using standin::ManagementLineBuffer;
using standin::ParseCommand;
using standin::ParseIpv4;

// Network events are signalled through plain manual-reset events.
using UniqueWsaEvent = UniqueEvent;
UniqueWsaEvent NewNetworkEvent() { return UniqueWsaEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

constexpr int kUsageExitCode = 2;
constexpr int kOptionsExitCode = 1;
constexpr size_t kMaxCommandLine = 1024;
constexpr size_t kMaxConfigBytes = 1 << 20;
constexpr DWORD kSplitPauseMs = 30;
constexpr size_t kSplitPieceBytes = 16;
constexpr ULONGLONG kSendGiveUpMs = 10000;

// ---------------------------------------------------------------------------
// Output: one line per event, written at once, in OpenVPN's own log layout.

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string result(static_cast<size_t>(std::max(size, 0)), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                          nullptr);
  }
  return result;
}

std::string LocalTimeText() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  return text;
}

void WriteTo(HANDLE handle, const std::string& text) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::FlushFileBuffers(handle);
}

void Say(std::string_view line) {
  WriteTo(::GetStdHandle(STD_OUTPUT_HANDLE), LocalTimeText() + " " + std::string(line) + "\r\n");
}

// Refusals go to both streams, once when they are the same file.
void SayError(std::string_view line) {
  const std::string text = std::string(line) + "\r\n";
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  WriteTo(out, text);
  if (err != out) WriteTo(err, text);
}

// ---------------------------------------------------------------------------
// The command line, exactly as the service builds it.

struct CommandLine {
  std::wstring config_path;
  std::wstring exit_event_name;
  bool exit_event_initially_set = false;
  std::string address;
  uint16_t port = 0;
};

constexpr wchar_t kExpectedLayout[] =
    L" --config \"<path>\" --service <event name> 0 --management 127.0.0.1 <port> --management-hold "
    L"--management-query-passwords --tls-exit";

class CommandLineReader {
 public:
  explicit CommandLineReader(std::wstring_view text) : text_(text) {}

  bool Literal(std::wstring_view expected) {
    if (text_.substr(position_, expected.size()) != expected) return Fail(L"expected \"" + std::wstring(expected) + L"\"");
    position_ += expected.size();
    return true;
  }
  // Text up to `stop` (not included); it must not be empty.
  bool Until(wchar_t stop, std::wstring* out, const wchar_t* what) {
    const size_t end = text_.find(stop, position_);
    if (end == std::wstring_view::npos || end == position_) return Fail(std::wstring(L"expected ") + what);
    *out = std::wstring(text_.substr(position_, end - position_));
    position_ = end;
    return true;
  }
  bool AtEnd() { return position_ == text_.size() || Fail(L"unexpected text after --tls-exit"); }
  const std::wstring& problem() const { return problem_; }

 private:
  bool Fail(const std::wstring& what) {
    problem_ = what + L" at character " + std::to_wstring(position_ + 1);
    return false;
  }
  std::wstring_view text_;
  size_t position_ = 0;
  std::wstring problem_;
};

std::optional<uint16_t> ParsePort(const std::wstring& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned long value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - L'0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

std::optional<CommandLine> ReadCommandLine(std::wstring_view raw, std::wstring* problem) {
  CommandLine line;
  CommandLineReader reader(raw);
  std::wstring state;
  std::wstring address;
  std::wstring port;
  const bool read = raw.size() <= kMaxCommandLine && reader.Literal(L" --config \"") &&
                    reader.Until(L'"', &line.config_path, L"the configuration path and its closing quote") &&
                    reader.Literal(L"\" --service ") && reader.Until(L' ', &line.exit_event_name, L"the event name") &&
                    reader.Literal(L" ") && reader.Until(L' ', &state, L"the event's initial state") &&
                    reader.Literal(L" --management ") && reader.Until(L' ', &address, L"the management address") &&
                    reader.Literal(L" ") && reader.Until(L' ', &port, L"the management port") &&
                    reader.Literal(L" --management-hold --management-query-passwords --tls-exit") && reader.AtEnd();
  if (!read) {
    *problem = raw.size() > kMaxCommandLine ? L"longer than 1024 characters" : reader.problem();
    return std::nullopt;
  }
  if (state != L"0" && state != L"1") {
    *problem = L"the exit event's initial state must be 0 or 1, not \"" + state + L"\"";
    return std::nullopt;
  }
  line.exit_event_initially_set = state == L"1";
  line.address = Narrow(address);
  if (!ParseIpv4(line.address)) {
    *problem = L"\"" + address + L"\" is not an IPv4 address";
    return std::nullopt;
  }
  const auto port_number = ParsePort(port);
  if (!port_number) {
    *problem = L"\"" + port + L"\" is not a port number";
    return std::nullopt;
  }
  line.port = *port_number;
  return line;
}

// ---------------------------------------------------------------------------
// The configuration: behaviour words, and the few real directives whose values
// show in the state notifications.

struct Behaviour {
  bool reject_password = false;
  std::optional<std::pair<std::string, std::string>> expected_credentials;
  bool drop_after_connected = false;
  bool exit_after_connected = false;
  DWORD slow_start_ms = 0;
  DWORD delay_states_ms = 0;
  bool split_status = false;
  uint64_t bytes_in = 0;
  uint64_t bytes_out = 0;
  uint64_t bytes_in_per_second = 0;
  uint64_t bytes_out_per_second = 0;
  std::string tun_ip = "10.235.0.6";
  std::string remote_address = "198.51.100.1";
  bool ignore_exit_event = false;
  DWORD exit_code = 0;
  // From the OpenVPN directives.
  std::string remote_host;
  std::string remote_port = "1194";
  std::string proto = "udp";
};

bool ReadFileBytes(const std::wstring& path, std::string* bytes) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
      static_cast<uint64_t>(size.QuadPart) > kMaxConfigBytes) {
    return false;
  }
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes->empty() && !::ReadFile(file.Get(), bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr)) {
    return false;
  }
  bytes->resize(read);
  return true;
}

std::optional<uint64_t> ParseNumber(const std::string& text, uint64_t max) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

bool IsIpv4(const std::string& text) { return ParseIpv4(text).has_value(); }

// One behaviour line's words; returns an empty text or why they are wrong.
std::string ApplyBehaviour(const std::vector<std::string>& words, Behaviour* b) {
  const std::string& word = words[0];
  const size_t args = words.size() - 1;
  auto number = [&](size_t index, uint64_t max, uint64_t* out) {
    const auto value = index <= args ? ParseNumber(words[index], max) : std::nullopt;
    if (value) *out = *value;
    return value.has_value();
  };
  auto wants = [&](size_t count) { return args == count ? std::string() : word + " takes " + std::to_string(count) + " argument(s)"; };
  uint64_t value = 0;
  if (word == "reject-password") return wants(0).empty() ? (b->reject_password = true, "") : wants(0);
  if (word == "drop-after-connected") return wants(0).empty() ? (b->drop_after_connected = true, "") : wants(0);
  if (word == "exit-after-connected") return wants(0).empty() ? (b->exit_after_connected = true, "") : wants(0);
  if (word == "split-status") return wants(0).empty() ? (b->split_status = true, "") : wants(0);
  if (word == "ignore-exit-event") return wants(0).empty() ? (b->ignore_exit_event = true, "") : wants(0);
  if (word == "expect-credentials") {
    if (args != 2) return wants(2);
    b->expected_credentials = std::make_pair(words[1], words[2]);
    return "";
  }
  if (word == "slow-start" || word == "delay-states") {
    if (args != 1 || !number(1, 600000, &value)) return word + " takes a time in milliseconds (at most 600000)";
    (word == "slow-start" ? b->slow_start_ms : b->delay_states_ms) = static_cast<DWORD>(value);
    return "";
  }
  if (word == "bytes" || word == "bytes-per-second") {
    uint64_t in = 0;
    uint64_t out = 0;
    if (args != 2 || !number(1, 1ULL << 50, &in) || !number(2, 1ULL << 50, &out)) return word + " takes two counts";
    (word == "bytes" ? b->bytes_in : b->bytes_in_per_second) = in;
    (word == "bytes" ? b->bytes_out : b->bytes_out_per_second) = out;
    return "";
  }
  if (word == "tun-ip" || word == "remote-address") {
    if (args != 1 || !IsIpv4(words[1])) return word + " takes an IPv4 address";
    (word == "tun-ip" ? b->tun_ip : b->remote_address) = words[1];
    return "";
  }
  if (word == "exit-code") {
    if (args != 1 || !number(1, 0xFFFFFFFF, &value)) return "exit-code takes a number";
    b->exit_code = static_cast<DWORD>(value);
    return "";
  }
  return "unknown behaviour \"" + word + "\"";
}

// Reads the configuration; on failure prints OpenVPN-like options errors.
bool ReadConfiguration(const std::wstring& path, Behaviour* behaviour) {
  std::string text;
  if (!ReadFileBytes(path, &text)) {
    SayError("Options error: In [CMD-LINE]:1: Error opening configuration file: " + Narrow(path));
    SayError("Use --help for more information.");
    return false;
  }
  constexpr std::string_view kMarker = "standin:";
  size_t start = 0;
  int line_number = 0;
  bool seen_remote = false;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    ++line_number;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty()) continue;
    const std::string where = Narrow(path) + ":" + std::to_string(line_number);
    if (line.front() == '#') {
      std::string_view rest = line.substr(1);
      while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
      if (rest.substr(0, kMarker.size()) != kMarker) continue;
      const auto parsed = ParseCommand(rest.substr(kMarker.size()));
      std::string problem = !parsed.error.empty()  ? parsed.error
                            : parsed.words.empty() ? "no behaviour named"
                                                   : ApplyBehaviour(parsed.words, behaviour);
      if (!problem.empty()) {
        SayError("Options error: stand-in behaviour at " + where + ": " + problem);
        return false;
      }
      std::string_view words = rest.substr(kMarker.size());
      while (!words.empty() && words.front() == ' ') words.remove_prefix(1);
      Say("stand-in: behaviour '" + std::string(words) + "' from " + where);
      continue;
    }
    if (line.front() == ';') continue;
    const auto parsed = ParseCommand(line);
    const auto& words = parsed.words;
    if (words.empty()) continue;
    if (words[0] == "remote" && words.size() >= 2 && !seen_remote) {
      seen_remote = true;
      behaviour->remote_host = words[1];
      if (words.size() >= 3) behaviour->remote_port = words[2];
      if (words.size() >= 4) behaviour->proto = words[3];
    } else if (words[0] == "proto" && words.size() >= 2) {
      behaviour->proto = words[1];
    } else if ((words[0] == "port" || words[0] == "rport") && words.size() >= 2) {
      behaviour->remote_port = words[1];
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// The management interface.

class Exit {
 public:
  explicit Exit(DWORD code) : code_(code) {}
  DWORD code() const { return code_; }

 private:
  DWORD code_;
};

class StandIn {
 public:
  StandIn(const CommandLine& command_line, const Behaviour& behaviour, HANDLE exit_event)
      : command_line_(command_line), behaviour_(behaviour), exit_event_(exit_event) {}

  // Runs until the process is to end; returns its exit code.
  DWORD Run();

 private:
  enum class Step { kResolve, kTcpConnect, kWait, kAuth, kGetConfig, kAssignIp, kAddRoutes, kConnected };

  struct Client {
    UniqueSocket socket;
    UniqueWsaEvent event;
    ManagementLineBuffer input;
  };

  bool Listen();
  void TryAccept();
  void ReadClient();
  void CloseClient(const char* why);
  void HandleLine(const std::string& line);
  void HandleCommand(const std::vector<std::string>& words);
  void HandleCredential(const std::vector<std::string>& words, bool is_password);
  void HandleSignal(const std::string& name);
  void SendLine(const std::string& line);
  void SendRaw(const std::string& bytes, bool split);
  void Notify(const std::string& line) { SendLine(">" + line); }
  void SetState(const std::string& name, const std::string& description, const std::string& tun_ip,
                const std::string& remote_ip, const std::string& remote_port);
  void StartConnecting();
  void RunStep(Step step);
  void ScheduleSteps();
  void SendStatus();
  void CheckExitEvent();
  // Waits up to `ms`, ending the process if the exit event is set meanwhile.
  void Pause(DWORD ms);
  [[noreturn]] void Quit(const std::string& why, DWORD code);
  uint64_t BytesIn() const;
  uint64_t BytesOut() const;
  HANDLE WatchedExitEvent() const { return exit_ignored_ ? nullptr : exit_event_; }

  const CommandLine& command_line_;
  const Behaviour& behaviour_;
  HANDLE exit_event_;
  bool exit_ignored_ = false;

  UniqueSocket listener_;
  UniqueWsaEvent listener_event_;
  std::optional<Client> client_;

  bool holding_ = true;
  bool hold_flag_ = true;
  bool state_notifications_ = false;
  bool password_needed_ = false;
  bool username_needed_ = false;
  bool credentials_given_ = false;
  bool started_ = false;
  std::string username_;
  std::string password_;
  int mute_ = 0;
  int verb_ = 1;
  std::vector<std::string> state_history_;
  std::deque<Step> steps_;
  ULONGLONG next_step_at_ = 0;
  ULONGLONG connected_at_ = 0;
  DWORD bytecount_seconds_ = 0;
  ULONGLONG next_bytecount_at_ = 0;
};

std::string RemoteIp(const Behaviour& b) {
  if (b.remote_host.empty()) return b.remote_address;
  return IsIpv4(b.remote_host) ? b.remote_host : b.remote_address;
}

void StandIn::Quit(const std::string& why, DWORD code) {
  Say(why);
  Say("stand-in: exit code " + std::to_string(code));
  throw Exit(code);
}

void StandIn::CheckExitEvent() {
  if (exit_ignored_ || ::WaitForSingleObject(exit_event_, 0) != WAIT_OBJECT_0) return;
  if (behaviour_.ignore_exit_event) {
    exit_ignored_ = true;
    Say("stand-in: exit event " + Narrow(command_line_.exit_event_name) + " is set; ignoring it as configured");
    return;
  }
  Say("stand-in: exit event " + Narrow(command_line_.exit_event_name) + " is set");
  if (client_ && started_) SetState("EXITING", "SIGTERM", "", "", "");
  Quit("SIGTERM[hard,] received, process exiting", behaviour_.exit_code);
}

void StandIn::Pause(DWORD ms) {
  const ULONGLONG until = ::GetTickCount64() + ms;
  for (;;) {
    CheckExitEvent();
    const ULONGLONG now = ::GetTickCount64();
    if (now >= until) return;
    const HANDLE watched = WatchedExitEvent();
    const DWORD left = static_cast<DWORD>(std::min<ULONGLONG>(until - now, 1000));
    if (watched != nullptr) {
      ::WaitForSingleObject(watched, left);
    } else {
      ::Sleep(left);
    }
  }
}

bool StandIn::Listen() {
  listener_.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  listener_event_ = NewNetworkEvent();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = standin::NetworkOrder(command_line_.port);
  address.sin_addr = ParseIpv4(command_line_.address).value_or(in_addr{});
  const std::string where = "[AF_INET]" + command_line_.address + ":" + std::to_string(command_line_.port);
  if (!listener_ || !listener_event_ ||
      ::bind(listener_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_.Get(), SOMAXCONN) != 0 ||
      ::WSAEventSelect(listener_.Get(), listener_event_.Get(), FD_ACCEPT) != 0) {
    SayError("MANAGEMENT: Socket bind failed on local address " + where + ": WSA error " +
             std::to_string(::WSAGetLastError()));
    SayError("Exiting due to fatal error");
    return false;
  }
  Say("MANAGEMENT: TCP Socket listening on " + where);
  Say("Need hold release from management interface, waiting...");
  return true;
}

// One client at a time, as OpenVPN: others wait in the listen queue.
void StandIn::TryAccept() {
  if (client_) return;
  sockaddr_in peer{};
  int peer_size = sizeof peer;
  UniqueSocket accepted(::accept(listener_.Get(), reinterpret_cast<sockaddr*>(&peer), &peer_size));
  if (!accepted) return;
  Client client;
  client.socket = std::move(accepted);
  client.event = NewNetworkEvent();
  if (!client.event || ::WSAEventSelect(client.socket.Get(), client.event.Get(), FD_READ | FD_CLOSE) != 0) {
    Say("MANAGEMENT: cannot watch the accepted connection; closing it");
    return;
  }
  BOOL no_delay = TRUE;
  ::setsockopt(client.socket.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
               sizeof no_delay);
  client_ = std::move(client);
  Say("MANAGEMENT: Client connected from [AF_INET]" + standin::Ipv4Text(peer.sin_addr) + ":" +
      std::to_string(standin::NetworkOrder(peer.sin_port)));
  SendLine(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info");
  // A new client is told what is still awaited, as OpenVPN does.
  if (holding_) Notify("HOLD:Waiting for hold release:0");
  if (password_needed_) Notify("PASSWORD:Need 'Auth' username/password");
}

void StandIn::CloseClient(const char* why) {
  if (!client_) return;
  client_.reset();
  // Real-time notifications are asked for per connection.
  state_notifications_ = false;
  bytecount_seconds_ = 0;
  Say(std::string("MANAGEMENT: Client disconnected") + (why[0] ? std::string(" (") + why + ")" : ""));
}

void StandIn::ReadClient() {
  // OpenVPN reads 256 bytes at a time and takes whole lines after each read.
  char buffer[256];
  for (;;) {
    if (!client_) return;
    const int received = ::recv(client_->socket.Get(), buffer, sizeof buffer, 0);
    if (received == 0) return CloseClient("");
    if (received < 0) {
      if (::WSAGetLastError() != WSAEWOULDBLOCK) CloseClient("receive failed");
      return;
    }
    client_->input.Add(std::string_view(buffer, static_cast<size_t>(received)));
    while (client_) {
      const auto line = client_->input.NextLine();
      if (!line) break;
      HandleLine(*line);
    }
  }
}

void StandIn::SendRaw(const std::string& bytes, bool split) {
  size_t sent = 0;
  const ULONGLONG give_up_at = ::GetTickCount64() + kSendGiveUpMs;
  while (client_ && sent < bytes.size()) {
    const size_t piece = split ? std::min(kSplitPieceBytes, bytes.size() - sent) : bytes.size() - sent;
    const int result = ::send(client_->socket.Get(), bytes.data() + sent, static_cast<int>(piece), 0);
    if (result > 0) {
      sent += static_cast<size_t>(result);
      if (split && sent < bytes.size()) Pause(kSplitPauseMs);
      continue;
    }
    if (result < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK && ::GetTickCount64() < give_up_at) {
      Pause(10);
      continue;
    }
    return CloseClient("send failed");
  }
}

void StandIn::SendLine(const std::string& line) {
  if (!client_) return;
  Say("MANAGEMENT: " + std::string(!line.empty() && line[0] == '>' ? "" : "reply ") + line);
  SendRaw(line + "\r\n", false);
}

void StandIn::SetState(const std::string& name, const std::string& description, const std::string& tun_ip,
                       const std::string& remote_ip, const std::string& remote_port) {
  // Time, name, description, tun IPv4, remote address, remote port, local
  // address, local port; the tun IPv6 field follows only when there is one.
  const std::string text = std::to_string(static_cast<long long>(std::time(nullptr))) + "," + name + "," +
                           description + "," + tun_ip + "," + remote_ip + "," + remote_port + ",,";
  state_history_.push_back(text);
  if (state_notifications_ && client_) {
    Notify("STATE:" + text);
  } else {
    Say("stand-in: state " + text);
  }
}

uint64_t StandIn::BytesIn() const {
  const uint64_t seconds = connected_at_ ? (::GetTickCount64() - connected_at_) / 1000 : 0;
  return behaviour_.bytes_in + seconds * behaviour_.bytes_in_per_second;
}
uint64_t StandIn::BytesOut() const {
  const uint64_t seconds = connected_at_ ? (::GetTickCount64() - connected_at_) / 1000 : 0;
  return behaviour_.bytes_out + seconds * behaviour_.bytes_out_per_second;
}

void StandIn::SendStatus() {
  // OpenVPN's client statistics; the stand-in's tunnel carries what its link does.
  const std::string in = std::to_string(BytesIn());
  const std::string out = std::to_string(BytesOut());
  const std::string reply = "OpenVPN STATISTICS\r\nUpdated," + LocalTimeText() + "\r\nTUN/TAP read bytes," + out +
                            "\r\nTUN/TAP write bytes," + in + "\r\nTCP/UDP read bytes," + in +
                            "\r\nTCP/UDP write bytes," + out + "\r\nAuth read bytes," + out + "\r\nEND\r\n";
  Say("MANAGEMENT: reply status (TCP/UDP read bytes " + in + ", write bytes " + out + ")" +
      (behaviour_.split_status ? " in pieces" : ""));
  SendRaw(reply, behaviour_.split_status);
}

void StandIn::ScheduleSteps() {
  steps_.clear();
  if (!behaviour_.remote_host.empty() && !IsIpv4(behaviour_.remote_host)) steps_.push_back(Step::kResolve);
  if (behaviour_.proto.rfind("tcp", 0) == 0) steps_.push_back(Step::kTcpConnect);
  for (Step step : {Step::kWait, Step::kAuth, Step::kGetConfig, Step::kAssignIp, Step::kAddRoutes, Step::kConnected}) {
    steps_.push_back(step);
  }
  next_step_at_ = ::GetTickCount64() + behaviour_.delay_states_ms;
}

void StandIn::StartConnecting() {
  started_ = true;
  password_needed_ = true;
  username_needed_ = true;
  Notify("PASSWORD:Need 'Auth' username/password");
}

void StandIn::RunStep(Step step) {
  const std::string remote_ip = RemoteIp(behaviour_);
  switch (step) {
    case Step::kResolve: return SetState("RESOLVE", "", "", "", "");
    case Step::kTcpConnect: return SetState("TCP_CONNECT", "", "", "", "");
    case Step::kWait: return SetState("WAIT", "", "", "", "");
    case Step::kAuth: {
      SetState("AUTH", "", "", "", "");
      const bool accepted =
          !behaviour_.reject_password &&
          (!behaviour_.expected_credentials ||
           (behaviour_.expected_credentials->first == username_ && behaviour_.expected_credentials->second == password_));
      if (accepted) return;
      steps_.clear();
      Say("AUTH: Received control message: AUTH_FAILED");
      Notify("PASSWORD:Verification Failed: 'Auth'");
      SetState("EXITING", "auth-failure", "", "", "");
      Quit("SIGTERM[soft,auth-failure] received, process exiting", behaviour_.exit_code);
    }
    case Step::kGetConfig: return SetState("GET_CONFIG", "", "", "", "");
    case Step::kAssignIp: return SetState("ASSIGN_IP", "", behaviour_.tun_ip, "", "");
    case Step::kAddRoutes: return SetState("ADD_ROUTES", "", "", "", "");
    case Step::kConnected:
      SetState("CONNECTED", "SUCCESS", behaviour_.tun_ip, remote_ip, behaviour_.remote_port);
      Say("Initialization Sequence Completed");
      connected_at_ = ::GetTickCount64();
      if (behaviour_.exit_after_connected) Quit("stand-in: exiting after CONNECTED as configured", behaviour_.exit_code);
      if (behaviour_.drop_after_connected) CloseClient("dropped after CONNECTED as configured");
      return;
  }
}

void StandIn::HandleLine(const std::string& line) {
  Say("MANAGEMENT: CMD '" + line + "'");
  const auto parsed = ParseCommand(line);
  if (!parsed.error.empty()) return SendLine("ERROR: " + parsed.error);
  if (parsed.words.empty()) return;
  HandleCommand(parsed.words);
}

void StandIn::HandleCredential(const std::vector<std::string>& words, bool is_password) {
  const char* what = is_password ? "password" : "username";
  bool& needed = is_password ? password_needed_ : username_needed_;
  if (!needed) return SendLine(std::string("ERROR: no ") + what + " is currently needed at this time");
  if (words[1] != "Auth") {
    return SendLine(std::string("ERROR: ") + what + " of type '" + words[1] + "' entered, but we need one of type 'Auth'");
  }
  (is_password ? password_ : username_) = words[2];
  Say(std::string("stand-in: ") + what + " for 'Auth' is [" + words[2] + "]");
  SendLine(std::string("SUCCESS: 'Auth' ") + what + " entered, but not yet verified");
  // The password completes the answer, as with OpenVPN.
  if (is_password) {
    password_needed_ = false;
    username_needed_ = false;
    credentials_given_ = true;
    ScheduleSteps();
  }
}

void StandIn::HandleSignal(const std::string& name) {
  if (name != "SIGHUP" && name != "SIGTERM" && name != "SIGUSR1" && name != "SIGUSR2") {
    return SendLine("ERROR: signal '" + name + "' is not a known signal type");
  }
  SendLine("SUCCESS: signal " + name + " thrown");
  if (name == "SIGTERM") {
    SetState("EXITING", "SIGTERM", "", "", "");
    Quit("SIGTERM[hard,] received, process exiting", behaviour_.exit_code);
  }
  if ((name == "SIGHUP" || name == "SIGUSR1") && credentials_given_) {
    // A restart: the cached credentials are used again.
    SetState("RECONNECTING", name, "", "", "");
    connected_at_ = 0;
    ScheduleSteps();
  }
}

void StandIn::HandleCommand(const std::vector<std::string>& words) {
  const std::string& command = words[0];
  const size_t args = words.size() - 1;
  auto needs = [&](size_t count) {
    if (args >= count) return true;
    SendLine("ERROR: the '" + command + "' command requires " + std::to_string(count) + " parameter" +
             (count == 1 ? "" : "s"));
    return false;
  };
  // "state", "log" and "echo" share a syntax: on or off, then optionally a
  // history request, "all" or a count. Only state history is kept here.
  auto on_off = [&](const std::string& what, bool* flag) {
    size_t history_word = 1;
    if (words[1] == "on" || words[1] == "off") {
      if (flag) *flag = words[1] == "on";
      SendLine("SUCCESS: real-time " + what + " notification set to " + (words[1] == "on" ? "ON" : "OFF"));
      history_word = 2;
    }
    if (history_word > args) return;
    const std::string& request = words[history_word];
    const auto count = ParseNumber(request, 1u << 30);
    if (request != "all" && !count) {
      return SendLine("ERROR: " + command + " parameter must be 'on' or 'off' or some number n or 'all'");
    }
    const std::vector<std::string> none;
    const auto& history = flag ? state_history_ : none;
    const size_t shown = request == "all" ? history.size() : std::min<size_t>(history.size(), *count);
    for (size_t i = history.size() - shown; i < history.size(); ++i) SendLine(history[i]);
    SendLine("END");
  };

  if (command == "help") {
    for (const char* text :
         {"Management Interface for the Veltrona VPN OpenVPN stand-in (OpenVPN 2.6 dialogue)", "Commands:",
          "bytecount n            : Show bytes in/out every n seconds (0=off).", "echo [on|off]          : Accepted.",
          "exit|quit              : Close management session.", "help                   : Print this message.",
          "hold [on|off|release]  : Set/show hold flag, or release the hold.",
          "log [on|off]           : Accepted.", "mute [n]               : Set or show the mute level.",
          "password type p        : Enter password p for a queried OpenVPN password.",
          "pid                    : Show process ID.", "signal s               : SIGHUP|SIGTERM|SIGUSR1|SIGUSR2.",
          "state [on|off] [N|all] : Real-time state notification and history.",
          "status [n]             : Show statistics.", "username type u        : Enter username u.",
          "verb [n]               : Set or show the log level.", "version [n]            : Show version.", "END"}) {
      SendLine(text);
    }
  } else if (command == "exit" || command == "quit") {
    CloseClient("");
  } else if (command == "version") {
    if (args == 0) {
      SendLine("OpenVPN Version: OpenVPN 2.6.14 x86_64-w64-mingw32 [Veltrona stand-in]");
      SendLine("Management Version: 5");
      SendLine("END");
    }
  } else if (command == "pid") {
    SendLine("SUCCESS: pid=" + std::to_string(::GetCurrentProcessId()));
  } else if (command == "state") {
    if (args == 0) {
      // Alone, it shows the current state only.
      if (!state_history_.empty()) SendLine(state_history_.back());
      SendLine("END");
    } else {
      on_off("state", &state_notifications_);
    }
  } else if (command == "log" || command == "echo") {
    if (needs(1)) on_off(command, nullptr);
  } else if (command == "hold") {
    if (args == 0) {
      SendLine(std::string("SUCCESS: hold=") + (hold_flag_ ? "1" : "0"));
    } else if (words[1] == "on" || words[1] == "off") {
      hold_flag_ = words[1] == "on";
      SendLine(std::string("SUCCESS: hold flag set to ") + (hold_flag_ ? "ON" : "OFF"));
    } else if (words[1] == "release") {
      SendLine("SUCCESS: hold release succeeded");
      if (holding_) {
        holding_ = false;
        StartConnecting();
      }
    } else {
      SendLine("ERROR: bad hold command parameter");
    }
  } else if (command == "mute" || command == "verb") {
    int& level = command == "mute" ? mute_ : verb_;
    if (args == 0) {
      SendLine("SUCCESS: " + command + "=" + std::to_string(level));
    } else {
      level = std::atoi(words[1].c_str());
      SendLine("SUCCESS: " + command + " level changed");
    }
  } else if (command == "bytecount") {
    if (!needs(1)) return;
    const int seconds = std::atoi(words[1].c_str());
    bytecount_seconds_ = seconds > 0 ? static_cast<DWORD>(seconds) : 0;
    next_bytecount_at_ = ::GetTickCount64() + bytecount_seconds_ * 1000ULL;
    SendLine("SUCCESS: bytecount interval changed");
  } else if (command == "status") {
    if (!started_) return SendLine("ERROR: The 'status' command is not supported by the current daemon mode");
    SendStatus();
  } else if (command == "signal") {
    if (needs(1)) HandleSignal(words[1]);
  } else if (command == "username" || command == "password") {
    if (needs(2)) HandleCredential(words, command == "password");
  } else {
    SendLine("ERROR: unknown command, enter 'help' for more options");
  }
}

DWORD StandIn::Run() {
  try {
    CheckExitEvent();
    if (behaviour_.slow_start_ms) {
      Say("stand-in: waiting " + std::to_string(behaviour_.slow_start_ms) + " ms before listening, as configured");
      Pause(behaviour_.slow_start_ms);
    }
    if (!Listen()) return kOptionsExitCode;
    SetState("CONNECTING", "", "", "", "");
    for (;;) {
      CheckExitEvent();
      ULONGLONG now = ::GetTickCount64();
      if (!steps_.empty() && now >= next_step_at_) {
        const Step step = steps_.front();
        steps_.pop_front();
        RunStep(step);
        next_step_at_ = ::GetTickCount64() + behaviour_.delay_states_ms;
        continue;
      }
      if (bytecount_seconds_ && started_ && now >= next_bytecount_at_) {
        Notify("BYTECOUNT:" + std::to_string(BytesIn()) + "," + std::to_string(BytesOut()));
        next_bytecount_at_ = now + bytecount_seconds_ * 1000ULL;
      }
      ULONGLONG wait = 1000;
      if (!steps_.empty()) wait = std::min<ULONGLONG>(wait, next_step_at_ > now ? next_step_at_ - now : 0);
      if (bytecount_seconds_ && started_) {
        wait = std::min<ULONGLONG>(wait, next_bytecount_at_ > now ? next_bytecount_at_ - now : 0);
      }
      HANDLE handles[3];
      DWORD count = 0;
      handles[count++] = listener_event_.Get();
      if (client_) handles[count++] = client_->event.Get();
      if (WatchedExitEvent() != nullptr) handles[count++] = WatchedExitEvent();
      ::WaitForMultipleObjects(count, handles, FALSE, static_cast<DWORD>(wait));

      WSANETWORKEVENTS events{};
      ::WSAEnumNetworkEvents(listener_.Get(), listener_event_.Get(), &events);
      if (client_) {
        events = {};
        if (::WSAEnumNetworkEvents(client_->socket.Get(), client_->event.Get(), &events) != 0) {
          CloseClient("connection lost");
        } else if (events.lNetworkEvents & (FD_READ | FD_CLOSE)) {
          ReadClient();
          if (client_ && (events.lNetworkEvents & FD_CLOSE)) CloseClient("");
        }
      }
      // Accepting only between clients keeps later ones queued, as OpenVPN does.
      if (!client_) TryAccept();
    }
  } catch (const Exit& exit) {
    return exit.code();
  }
}

}  // namespace

int wmain(int, wchar_t**) {
  const std::wstring raw = ::GetCommandLineW();
  Say("stand-in: OpenVPN stand-in started with command line [" + Narrow(raw) + "]");

  std::wstring problem;
  const auto command_line = ReadCommandLine(raw, &problem);
  if (!command_line) {
    SayError("openvpn stand-in: refusing the command line [" + Narrow(raw) + "]: " + Narrow(problem));
    SayError("openvpn stand-in: the only accepted command line is [" + Narrow(kExpectedLayout) + "]");
    return kUsageExitCode;
  }

  Behaviour behaviour;
  if (!ReadConfiguration(command_line->config_path, &behaviour)) return kOptionsExitCode;

  // Anyone may set the event: the client that ends the tunnel runs as the
  // user, while OpenVPN runs under the service's account.
  SECURITY_DESCRIPTOR descriptor{};
  ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  UniqueEvent exit_event(::CreateEventW(&attributes, TRUE, command_line->exit_event_initially_set ? TRUE : FALSE,
                                        command_line->exit_event_name.c_str()));
  if (!exit_event) {
    SayError("openvpn stand-in: cannot create the exit event " + Narrow(command_line->exit_event_name) +
             ": error " + std::to_string(::GetLastError()));
    return kOptionsExitCode;
  }
  Say("stand-in: exit event " + Narrow(command_line->exit_event_name) + " created");

  ScopedWinsock winsock;
  if (!winsock.started()) {
    SayError("openvpn stand-in: Windows Sockets did not start");
    return kOptionsExitCode;
  }
  StandIn stand_in(*command_line, behaviour, exit_event.Get());
  return static_cast<int>(stand_in.Run());
}
