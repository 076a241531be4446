// The OpenVPN stand-in as its peers see it: started with the service's command
// line, driven over its management port like the client does, stopped with
// its exit event.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "tests/peers/openvpn_standin_winsock.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/process_win.h"

namespace veltrona {
namespace {

using test_support::PeerProgram;
using test_support::UniqueSuffix;
using ::testing::HasSubstr;

constexpr DWORD kGenerousMs = 30000;

// A loopback port nobody listens on right now; never the product's own 13247.
uint16_t FreePort() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    UniqueSocket probe(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = *standin::ParseIpv4("127.0.0.1");
    int size = sizeof address;
    if (::bind(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      continue;
    }
    const uint16_t port = standin::NetworkOrder(address.sin_port);
    if (port != 13247) return port;
  }
  return 0;
}

// The management connection, read line by line as a client would.
class ManagementClient {
 public:
  bool Connect(uint16_t port) {
    const ULONGLONG give_up = ::GetTickCount64() + kGenerousMs;
    while (::GetTickCount64() < give_up) {
      socket_.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = standin::NetworkOrder(port);
      address.sin_addr = *standin::ParseIpv4("127.0.0.1");
      if (::connect(socket_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const DWORD timeout = kGenerousMs;
        ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                             sizeof timeout);
        return true;
      }
      ::Sleep(100);
    }
    return false;
  }

  void Send(const std::string& command) {
    const std::string line = command + "\n";
    ASSERT_EQ(::send(socket_.Get(), line.data(), static_cast<int>(line.size()), 0),
              static_cast<int>(line.size()));
  }

  // The next line without its CR LF; nothing once the connection has ended.
  std::optional<std::string> ReadLine() {
    for (;;) {
      const size_t end = pending_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 2);
        return line;
      }
      char buffer[512];
      const int received = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
      if (received <= 0) return std::nullopt;
      pending_.append(buffer, static_cast<size_t>(received));
    }
  }

 private:
  UniqueSocket socket_;
  std::string pending_;
};

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    fields.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

class OpenVpnStandin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(winsock_.started());
    const std::wstring suffix = UniqueSuffix();
    port_ = FreePort();
    ASSERT_NE(port_, 0);
    event_name_ = L"Local\\VeltronaStandinExit-" + suffix;
  }
  void TearDown() override {
    if (process_) {
      ::TerminateProcess(process_.Get(), 0xDEAD);
      ::WaitForSingleObject(process_.Get(), kGenerousMs);
    }
    process_.Reset();
  }

  void WriteConfig(const std::string& text) {
    folder_.Write(L"Veltrona.ovpn", text);
  }

  // The command line exactly as the service builds it: the program is the
  // application name, so the command line starts with a blank.
  std::wstring ServiceCommandLine() const {
    return L" --config \"" + folder_.Path() + L"\\Veltrona.ovpn" + L"\" --service " + event_name_ +
           L" 0 --management 127.0.0.1 " + std::to_wstring(port_) +
           L" --management-hold --management-query-passwords --tls-exit";
  }

  void Start() {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    UniqueFile output(::CreateFileW((folder_.Path() + L"\\log.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                    &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(output);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.Get();
    startup.hStdError = output.Get();
    std::wstring command_line = ServiceCommandLine();
    const std::wstring program = PeerProgram(L"openvpn_standin");
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                 nullptr, folder_.Path().c_str(), &startup, &info));
    process_.Reset(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
  }

  // Exit code once the process has ended, nothing if it is still running.
  std::optional<DWORD> WaitForExit() {
    if (::WaitForSingleObject(process_.Get(), kGenerousMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.Get(), &code);
    process_.Reset();
    return code;
  }

  std::string Log() const { return folder_.Read(L"log.txt"); }

  // Reads state notifications up to `last`, returning their field lists.
  std::vector<std::vector<std::string>> StatesUpTo(const std::string& last) {
    std::vector<std::vector<std::string>> states;
    while (auto line = client_.ReadLine()) {
      if (line->rfind(">STATE:", 0) != 0) {
        ADD_FAILURE() << "unexpected line " << *line;
        continue;
      }
      states.push_back(Fields(line->substr(7)));
      if (states.back().size() > 1 && states.back()[1] == last) break;
    }
    return states;
  }

  void ExpectLine(const std::string& expected) {
    const auto line = client_.ReadLine();
    ASSERT_TRUE(line.has_value()) << "connection ended before " << expected;
    EXPECT_EQ(*line, expected);
  }

  void LogInUntilPasswordQuery() {
    ASSERT_TRUE(client_.Connect(port_));
    ExpectLine(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info");
    ExpectLine(">HOLD:Waiting for hold release:0");
    client_.Send("state on");
    ExpectLine("SUCCESS: real-time state notification set to ON");
    client_.Send("hold release");
    ExpectLine("SUCCESS: hold release succeeded");
    ExpectLine(">PASSWORD:Need 'Auth' username/password");
  }

  ScopedWinsock winsock_;
  test_support::TempFolder folder_{L"veltrona-standin-"};
  uint16_t port_ = 0;
  std::wstring event_name_;
  UniqueProcess process_;
  ManagementClient client_;
};

TEST_F(OpenVpnStandin, WalksTheDialogueToConnectedAndEndsWhenTheExitEventIsSet) {
  WriteConfig(
      "client\r\ndev tun\r\nremote 127.0.0.1 1194 udp\r\n"
      "# standin: expect-credentials 1001 \"a \\\"b\\\\ c\"\r\n"
      "# standin: bytes 1234 5678\r\n");
  Start();
  LogInUntilPasswordQuery();
  client_.Send("username \"Auth\" 1001");
  ExpectLine("SUCCESS: 'Auth' username entered, but not yet verified");
  client_.Send("password \"Auth\" \"a \\\"b\\\\ c\"");
  ExpectLine("SUCCESS: 'Auth' password entered, but not yet verified");

  const auto states = StatesUpTo("CONNECTED");
  std::vector<std::string> names;
  for (const auto& fields : states) names.push_back(fields.size() > 1 ? fields[1] : "");
  EXPECT_THAT(names, ::testing::ElementsAre("WAIT", "AUTH", "GET_CONFIG", "ASSIGN_IP", "ADD_ROUTES", "CONNECTED"));
  ASSERT_FALSE(states.empty());
  const auto& connected = states.back();
  ASSERT_EQ(connected.size(), 8u);
  EXPECT_THAT(connected[0], ::testing::MatchesRegex("\\d+"));
  EXPECT_EQ(connected[2], "SUCCESS");
  EXPECT_EQ(connected[3], "10.235.0.6");
  EXPECT_EQ(connected[4], "127.0.0.1");
  EXPECT_EQ(connected[5], "1194");

  client_.Send("status");
  ExpectLine("OpenVPN STATISTICS");
  std::vector<std::string> status;
  while (auto line = client_.ReadLine()) {
    if (*line == "END") break;
    status.push_back(*line);
  }
  EXPECT_THAT(status, ::testing::Contains("TCP/UDP read bytes,1234"));
  EXPECT_THAT(status, ::testing::Contains("TCP/UDP write bytes,5678"));
  client_.Send("frobnicate");
  ExpectLine("ERROR: unknown command, enter 'help' for more options");

  UniqueEvent exit_event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name_.c_str()));
  ASSERT_TRUE(exit_event) << "the stand-in did not create its exit event";
  ASSERT_TRUE(::SetEvent(exit_event.Get()));
  EXPECT_EQ(WaitForExit(), std::optional<DWORD>(0));
  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("MANAGEMENT: CMD 'password \"Auth\" \"a \\\"b\\\\ c\"'"));
  EXPECT_THAT(log, HasSubstr("password for 'Auth' is [a \"b\\ c]"));
  EXPECT_THAT(log, HasSubstr("exit event Local\\VeltronaStandinExit-"));
}

TEST_F(OpenVpnStandin, RejectedCredentialsEndTheProcessAsOpenVpnDoes) {
  WriteConfig("client\r\n# standin: expect-credentials 1001 right\r\n# standin: exit-code 3\r\n");
  Start();
  LogInUntilPasswordQuery();
  client_.Send("username \"Auth\" 1001");
  ExpectLine("SUCCESS: 'Auth' username entered, but not yet verified");
  client_.Send("password \"Auth\" wrong");
  ExpectLine("SUCCESS: 'Auth' password entered, but not yet verified");
  EXPECT_THAT(client_.ReadLine().value_or(""), ::testing::MatchesRegex(">STATE:\\d+,WAIT,,,,,,"));
  EXPECT_THAT(client_.ReadLine().value_or(""), ::testing::MatchesRegex(">STATE:\\d+,AUTH,,,,,,"));
  ExpectLine(">PASSWORD:Verification Failed: 'Auth'");
  const auto exiting = client_.ReadLine();
  ASSERT_TRUE(exiting.has_value());
  EXPECT_THAT(*exiting, ::testing::MatchesRegex(">STATE:\\d+,EXITING,auth-failure,,,,,"));
  EXPECT_EQ(client_.ReadLine(), std::nullopt) << "the management connection should close";
  EXPECT_EQ(WaitForExit(), std::optional<DWORD>(3));
}

TEST_F(OpenVpnStandin, DropsTheConnectionAfterConnectedAndServesTheNextClient) {
  WriteConfig(
      "client\r\nremote vpn.example.com 443 tcp\r\n"
      "# standin: drop-after-connected\r\n# standin: split-status\r\n# standin: delay-states 20\r\n"
      "# standin: tun-ip 10.235.0.9\r\n# standin: remote-address 192.0.2.7\r\n");
  Start();
  LogInUntilPasswordQuery();
  client_.Send("username \"Auth\" 1001");
  ExpectLine("SUCCESS: 'Auth' username entered, but not yet verified");
  client_.Send("password \"Auth\" secret");
  ExpectLine("SUCCESS: 'Auth' password entered, but not yet verified");
  const auto states = StatesUpTo("CONNECTED");
  ASSERT_EQ(states.size(), 8u);  // a host name is resolved and TCP connects first
  EXPECT_EQ(states[0][1], "RESOLVE");
  EXPECT_EQ(states[1][1], "TCP_CONNECT");
  EXPECT_THAT(states.back(), ::testing::ElementsAre(::testing::_, "CONNECTED", "SUCCESS", "10.235.0.9", "192.0.2.7",
                                                    "443", "", ""));
  EXPECT_EQ(client_.ReadLine(), std::nullopt) << "the management connection should close after CONNECTED";

  // The process keeps running; the next client is greeted without a hold.
  ManagementClient next;
  ASSERT_TRUE(next.Connect(port_));
  EXPECT_EQ(next.ReadLine(), ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info");
  next.Send("status");
  std::vector<std::string> reply;
  while (auto line = next.ReadLine()) {
    reply.push_back(*line);
    if (*line == "END") break;
  }
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply.front(), "OpenVPN STATISTICS");
  EXPECT_EQ(reply.back(), "END");
  EXPECT_THAT(Log(), HasSubstr("in pieces"));
}

TEST_F(OpenVpnStandin, BadEscapesAreRefusedLikeOpenVpn) {
  WriteConfig("client\r\n");
  Start();
  LogInUntilPasswordQuery();
  client_.Send("password \"Auth\" a\\b");
  ExpectLine(
      "ERROR: Options warning: Bad backslash ('\\') usage in TCP:0: remember that backslashes are treated as "
      "shell-escapes and if you need to pass backslash characters as part of a Windows filename, you should use "
      "double backslashes such as \"c:\\\\openvpn\\\\static.key\"");
  client_.Send("password \"Auth\" \"unclosed");
  ExpectLine("ERROR: Options error: No closing quotation (\") in TCP:0");
}

TEST_F(OpenVpnStandin, MissingConfigurationIsAnOptionsError) {
  Start();  // no configuration file written
  EXPECT_EQ(WaitForExit(), std::optional<DWORD>(1));
  EXPECT_THAT(Log(), HasSubstr("Options error: In [CMD-LINE]:1: Error opening configuration file: "));
}

TEST_F(OpenVpnStandin, AnyOtherCommandLineFailsLoudlyWithCodeTwo) {
  WriteConfig("client\r\n");
  // With the program name in front, as a shell would start it.
  const auto result = test_support::RunProgram(PeerProgram(L"openvpn_standin"), ServiceCommandLine().substr(1), kGenerousMs);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 2u);
  EXPECT_THAT(result.output, HasSubstr("refusing the command line"));

  const auto shortened = test_support::RunProgram(PeerProgram(L"openvpn_standin"), L"--config x", kGenerousMs);
  EXPECT_EQ(shortened.exit_code, 2u);
  EXPECT_THAT(shortened.output, HasSubstr("the only accepted command line is"));
}

}  // namespace
}  // namespace veltrona
