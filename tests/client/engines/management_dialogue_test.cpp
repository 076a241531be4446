#include "client/engines/management_dialogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/client/engines/management_session.h"

namespace veltrona::engines {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Session;
using testing::StateLine;
using testing::StatusReply;

constexpr char kLost[] = "message Connection lost. Try to reconnect later. | Veltrona VPN Free Trial | warning";
constexpr char kNotStarted[] =
    "message Service VeltronaVPN isn't started! Try to reinstall Veltrona VPN Free Trial | Error | error";

TEST(ManagementDialogueTest, UsualCourseSendsEveryCommandByteForByte) {
  Session s;
  s.dialogue.Start("1001", "secret");
  EXPECT_THAT(s.Actions(), IsEmpty());  // not pumped yet
  s.Pump();
  EXPECT_THAT(s.Actions(), ElementsAre("state 1"));
  EXPECT_EQ(s.dialogue.state(), ENGINE_CONNECTING);
  s.dialogue.OnConnectAttempt(0);
  s.dialogue.OnConnectResult(0, 20);
  s.Pump();
  EXPECT_THAT(s.Actions(), IsEmpty());
  EXPECT_EQ(s.Sent(), "");  // OpenVPN speaks first

  s.Feed(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n");
  EXPECT_THAT(s.Actions(), ElementsAre("pause 100"));
  EXPECT_EQ(s.Sent(), "state on\n");
  s.Feed(">HOLD:Waiting for hold release:0\r\n");
  EXPECT_EQ(s.Sent(), "");  // waits behind "state on"
  s.Feed("SUCCESS: real-time state notification set to ON\r\n");
  EXPECT_EQ(s.Sent(), "mute 40\n");
  s.Feed("SUCCESS: mute level changed\r\n");
  EXPECT_EQ(s.Sent(), "hold off\n");
  s.Feed("SUCCESS: hold flag set to OFF\r\n");
  EXPECT_EQ(s.Sent(), "hold release\n");
  s.Feed("SUCCESS: hold release succeeded\r\n");
  EXPECT_EQ(s.Sent(), "");
  EXPECT_EQ(s.dialogue.queued_commands(), 0u);

  s.Feed(">PASSWORD:Need 'Auth' username/password\r\n");
  EXPECT_EQ(s.Sent(), "username \"Auth\" \"1001\"\n");
  s.Feed("SUCCESS: 'Auth' username entered, but not yet verified\r\n");
  EXPECT_EQ(s.Sent(), "password \"Auth\" \"secret\"\n");
  s.Feed("SUCCESS: 'Auth' password entered, but not yet verified\r\n");
  EXPECT_EQ(s.Sent(), "");

  s.Feed(StateLine("RESOLVE") + StateLine("WAIT") + StateLine("AUTH") + StateLine("GET_CONFIG") +
         ">STATE:1700000003,ASSIGN_IP,,10.235.0.2,,,,\r\n" + StateLine("ADD_ROUTES"));
  EXPECT_THAT(s.Actions(), ElementsAre("status resolve IP...", "status wait answer...", "status authentication...",
                                       "status get connection...", "status assign IP..."));
  EXPECT_EQ(s.dialogue.state(), ENGINE_CONNECTING);
  s.Feed(">STATE:1700000004,CONNECTED,SUCCESS,10.235.0.2,198.51.100.7,1194,,\r\n");
  EXPECT_THAT(s.Actions(), ElementsAre("state 3"));
  EXPECT_EQ(s.dialogue.state(), ENGINE_CONNECTED);
  EXPECT_EQ(s.dialogue.last_state_name(), "CONNECTED");

  s.Timer();
  EXPECT_EQ(s.Sent(), "status\n");
  s.Feed(StatusReply("4711", "815"));
  EXPECT_THAT(s.Actions(), ElementsAre("stats 4711 bytes / 815 bytes"));
  EXPECT_EQ(s.dialogue.queued_commands(), 0u);
  s.Timer();
  EXPECT_EQ(s.Sent(), "status\n");
}

TEST(ManagementDialogueTest, NotificationPrefixesAreMatchedExactlyAndInCase) {
  struct Case {
    const char* line;
    const char* sent;
  };
  const std::vector<Case> cases = {
      {">LOG:1700000000,I,OpenVPN 2.6.3 x86_64-pc-linux-gnu\r\n", ""},
      {">HOLD:Waiting for hold release:10\r\n", "hold off\n"},
      {">INFO:greeting\r\n", "state on\n"},
      {">PASSWORD:Need 'Auth' username/password\r\n", "username \"Auth\" \"1001\"\n"},
      {">PASSWORD:Need 'Private Key' password\r\n", ""},
      {">BYTECOUNT:1000,2000\r\n", ""},
      {">FATAL:cannot open tun\r\n", ""},
      {">INFOMSG:WEB_AUTH::https://example.invalid\r\n", ""},
      {">info:lower case\r\n", ""},
      {">HOLD\r\n", ""},
      {">\r\n", ""},
      {"INFO:no marker, a reply\r\n", ""},
  };
  for (const Case& c : cases) {
    Session s;
    s.Start();
    s.Actions();
    s.Feed(c.line);
    EXPECT_EQ(s.Sent(), c.sent) << c.line;
    EXPECT_EQ(s.dialogue.state(), ENGINE_CONNECTING) << c.line;
  }
}

TEST(ManagementDialogueTest, EveryStateNameOfTheTable) {
  struct Case {
    const char* name;
    std::vector<std::string> actions;
    int state;
    const char* stored;  // last state name afterwards ("WAIT" before)
  };
  const std::vector<Case> cases = {
      {"CONNECTED", {"state 3"}, ENGINE_CONNECTED, "CONNECTED"},
      {"RECONNECTING", {"close", "state 0", kLost}, ENGINE_DISCONNECTED, "WAIT"},
      {"RESOLVE", {"status resolve IP..."}, ENGINE_CONNECTING, "RESOLVE"},
      {"WAIT", {"status wait answer..."}, ENGINE_CONNECTING, "WAIT"},
      {"AUTH", {"status authentication..."}, ENGINE_CONNECTING, "AUTH"},
      {"CONNECT", {"status connect..."}, ENGINE_CONNECTING, "CONNECT"},
      {"CONNECTING", {"status connect..."}, ENGINE_CONNECTING, "CONNECTING"},
      {"TCP_CONNECT", {"status connect..."}, ENGINE_CONNECTING, "TCP_CONNECT"},
      {"GET_CONNECTING", {"status get connection..."}, ENGINE_CONNECTING, "GET_CONNECTING"},
      {"GET_CONFIG", {"status get connection..."}, ENGINE_CONNECTING, "GET_CONFIG"},
      {"ASSIGN_IP", {"status assign IP..."}, ENGINE_CONNECTING, "ASSIGN_IP"},
      {"ADD_ROUTES", {}, ENGINE_CONNECTING, "ADD_ROUTES"},
      {"EXITING", {"close", "state 0", kLost}, ENGINE_DISCONNECTED, "WAIT"},
      {"AUTH_PENDING", {}, ENGINE_CONNECTING, "AUTH_PENDING"},
      {"", {}, ENGINE_CONNECTING, ""},
  };
  for (const Case& c : cases) {
    Session s;
    s.Start();
    s.Feed(StateLine("WAIT"));
    s.Actions();
    s.Feed(StateLine(c.name));
    EXPECT_EQ(s.Actions(), c.actions) << c.name;
    EXPECT_EQ(s.dialogue.state(), c.state) << c.name;
    EXPECT_EQ(s.dialogue.last_state_name(), c.stored) << c.name;
  }
}

TEST(ManagementDialogueTest, NamesThatOnlyBeginWithATableNameAreOtherNames) {
  for (const char* name : {"CONNECTEDX", "CONNECTED ", "RECONNECTING2", "EXITING_SOON", "AUTH_FAILED", "WAITING",
                           "RESOLVED", "ASSIGN_IPV6", "connected", "exiting"}) {
    Session s;
    s.Start();
    s.Actions();
    s.Feed(StateLine(name));
    EXPECT_THAT(s.Actions(), IsEmpty()) << name;
    EXPECT_EQ(s.dialogue.state(), ENGINE_CONNECTING) << name;
    EXPECT_EQ(s.dialogue.last_state_name(), name);
  }
}

TEST(ManagementDialogueTest, StateLinesWithFewerThanThreeCommasChangeNothing) {
  Session s;
  s.Start();
  s.Feed(StateLine("WAIT"));
  s.Actions();
  for (const char* line : {">STATE:1700000000,CONNECTED,SUCCESS\r\n", ">STATE:1700000000,EXITING\r\n",
                           ">STATE:CONNECTED\r\n", ">STATE:\r\n", ">STATE:,,\r\n"}) {
    s.Feed(line);
    EXPECT_THAT(s.Actions(), IsEmpty()) << line;
    EXPECT_EQ(s.dialogue.state(), ENGINE_CONNECTING) << line;
    EXPECT_EQ(s.dialogue.last_state_name(), "WAIT") << line;
  }
  // Three commas are enough.
  s.Feed(">STATE:1700000000,CONNECTED,SUCCESS,\r\n");
  EXPECT_THAT(s.Actions(), ElementsAre("state 3"));
  s.Feed(">STATE:,,,\r\n");
  EXPECT_EQ(s.dialogue.last_state_name(), "");
}

TEST(ManagementDialogueTest, ReconnectingAfterAuthShowsLoginFailed) {
  Session s;
  s.Start();
  s.LogIn();
  s.Feed(StateLine("WAIT") + StateLine("AUTH"));
  s.Actions();
  s.Feed(">STATE:1700000005,RECONNECTING,auth-failure,,,,,\r\n");
  EXPECT_THAT(s.Actions(), ElementsAre("close", "state 0", "login failed"));
  EXPECT_EQ(s.dialogue.last_state_name(), "AUTH");
}

TEST(ManagementDialogueTest, RejectedLoginThenExitingShowsLoginFailed) {
  // OpenVPN's default reaction to AUTH_FAILED, as OpenVPN 2.6 sends it.
  Session s;
  s.Start();
  s.LogIn();
  s.Feed(StateLine("WAIT") + StateLine("AUTH"));
  s.Actions();
  s.Sent();
  s.Feed(">PASSWORD:Verification Failed: 'Auth'\r\n");
  EXPECT_EQ(s.Sent(), "");
  EXPECT_THAT(s.Actions(), IsEmpty());
  s.Feed(">STATE:1700000005,EXITING,auth-failure,,,,,\r\n");
  EXPECT_THAT(s.Actions(), ElementsAre("close", "state 0", "login failed"));
}

TEST(ManagementDialogueTest, RejectedLoginThenClosedConnectionShowsLoginFailed) {
  Session s;
  s.Start();
  s.LogIn();
  s.Feed(">PASSWORD:Verification Failed: 'Auth'\r\n");
  s.Actions();
  s.Close();
  EXPECT_THAT(s.Actions(), ElementsAre("close", "state 0", "login failed"));
}

TEST(ManagementDialogueTest, RejectedLoginThenRestartShowsLoginFailedWhateverTheLastState) {
  Session s;
  s.Start();
  s.Feed(StateLine("WAIT") + ">PASSWORD:Verification Failed: 'Auth'\r\n");
  s.Actions();
  s.Feed(StateLine("RECONNECTING"));
  EXPECT_THAT(s.Actions(), ElementsAre("close", "state 0", "login failed"));
}

TEST(ManagementDialogueTest, RejectedCredentialsAreNotSentAgain) {
  Session s;
  s.Start();
  s.LogIn();
  s.Sent();
  s.Actions();
  s.Feed(">PASSWORD:Verification Failed: 'Auth'\r\n>PASSWORD:Need 'Auth' username/password\r\n");
  EXPECT_EQ(s.Sent(), "");
  EXPECT_THAT(s.Actions(), ElementsAre("close", "state 0", "login failed"));
}

TEST(ManagementDialogueTest, ClosedConnectionIsConnectionLost) {
  Session s;
  s.Connected();
  s.Close();
  EXPECT_THAT(s.Actions(), ElementsAre("close", "state 0", kLost));
  EXPECT_EQ(s.dialogue.state(), ENGINE_DISCONNECTED);
  s.Close();  // a second FD_CLOSE, or one after Disconnect, changes nothing
  EXPECT_THAT(s.Actions(), IsEmpty());
}

TEST(ManagementDialogueTest, NothingIsTakenAfterTheLineThatEndedTheSession) {
  Session s;
  s.Start();
  s.Actions();
  s.Feed(StateLine("EXITING") + StateLine("CONNECTED") + ">INFO:greeting\r\n");
  EXPECT_THAT(s.Actions(), ElementsAre("close", "state 0", kLost));
  EXPECT_EQ(s.dialogue.state(), ENGINE_DISCONNECTED);
  EXPECT_EQ(s.Sent(), "");
  s.Feed(">INFO:greeting\r\n");
  EXPECT_EQ(s.Sent(), "");
  EXPECT_EQ(s.dialogue.queued_commands(), 0u);
}

TEST(ManagementDialogueTest, RepliesWithAnEmptyQueueAreIgnored) {
  Session s;
  s.Start();
  s.Actions();
  s.Feed("SUCCESS: stray\r\nERROR: stray\r\nEND\r\n");
  s.Feed(StatusReply("1", "2"));
  EXPECT_THAT(s.Actions(), IsEmpty());
  // None of those lines is taken as the reply to what comes next.
  s.Feed(">INFO:greeting\r\n");
  EXPECT_EQ(s.Sent(), "state on\n");
  s.Feed("SUCCESS: real-time state notification set to ON\r\n");
  EXPECT_EQ(s.Sent(), "mute 40\n");
  EXPECT_EQ(s.dialogue.queued_commands(), 1u);
}

TEST(ManagementDialogueTest, StatisticsReplyWithAnEmptyQueueIsSkippedUpToItsEnd) {
  Session s;
  s.Start();
  s.Actions();
  s.Feed("OpenVPN STATISTICS\r\nUpdated,now\r\n");
  s.Feed(">INFO:greeting\r\n");  // "state on" goes out while the stray reply is still open
  EXPECT_EQ(s.Sent(), "state on\n");
  s.Feed("TCP/UDP read bytes,5\r\nEND\r\n");
  EXPECT_THAT(s.Actions(), ElementsAre("pause 100"));  // no statistics shown
  EXPECT_EQ(s.dialogue.queued_commands(), 2u);
  s.Feed("SUCCESS: real-time state notification set to ON\r\n");
  EXPECT_EQ(s.Sent(), "mute 40\n");
}

TEST(ManagementDialogueTest, StatisticsSplitAtEveryPosition) {
  const std::string reply = StatusReply("123456", "654321");
  for (size_t cut = 0; cut <= reply.size(); ++cut) {
    Session s;
    s.Connected();
    s.Timer();
    s.Timer();  // waits behind the first
    ASSERT_EQ(s.Sent(), "status\n");
    s.Feed(reply.substr(0, cut));
    s.Feed(reply.substr(cut));
    EXPECT_THAT(s.Actions(), ElementsAre("stats 123456 bytes / 654321 bytes")) << cut;
    // The second "status" goes out after END, and only then.
    EXPECT_EQ(s.Sent(), "status\n") << cut;
    EXPECT_EQ(s.dialogue.queued_commands(), 1u) << cut;
    s.Feed("ERROR: status busy\r\n");
    EXPECT_EQ(s.dialogue.queued_commands(), 0u) << cut;
  }
}

TEST(ManagementDialogueTest, StatisticsByteByByteWithNotificationsInBetween) {
  Session s;
  s.Connected();
  s.Timer();
  s.Sent();
  const std::string reply = "OpenVPN STATISTICS\r\n>BYTECOUNT:1,2\r\nTCP/UDP read bytes,10\r\n" + StateLine("ADD_ROUTES") +
                            "TCP/UDP write bytes,20\r\nEND\r\n";
  for (const char c : reply) {
    EXPECT_EQ(s.dialogue.queued_commands(), 1u);
    s.Feed(std::string(1, c));
  }
  EXPECT_THAT(s.Actions(), ElementsAre("stats 10 bytes / 20 bytes"));
  EXPECT_EQ(s.dialogue.queued_commands(), 0u);
  EXPECT_EQ(s.dialogue.last_state_name(), "ADD_ROUTES");
}

TEST(ManagementDialogueTest, StatisticsCountersMissingOrLarge) {
  Session s;
  s.Connected();
  s.Timer();
  s.Feed("OpenVPN STATISTICS\r\nUpdated,now\r\nEND\r\n");
  EXPECT_THAT(s.Actions(), ElementsAre("stats 0 bytes / 0 bytes"));
  s.Timer();
  // Beyond 32 bits after a few gigabytes; the count is shown whole.
  s.Feed("OpenVPN STATISTICS\r\nTCP/UDP read bytes,  5000000000\r\nTCP/UDP write bytes,-7x\r\nEND\r\n");
  EXPECT_THAT(s.Actions(), ElementsAre("stats 5000000000 bytes / -7 bytes"));
  s.Timer();
  s.Feed("OpenVPN STATISTICS\r\nTCP/UDP read bytes,1\r\nTCP/UDP read bytes,2\r\nEND\r\n");
  EXPECT_THAT(s.Actions(), ElementsAre("stats 1 bytes / 0 bytes"));  // the first one counts
}

TEST(ManagementDialogueTest, StatisticsTimerOutsideConnectedShowsZero) {
  Session s;
  s.Timer();
  EXPECT_THAT(s.Actions(), ElementsAre("stats 0 bytes / 0 bytes"));
  s.Start();
  s.Actions();
  s.Timer();
  EXPECT_THAT(s.Actions(), ElementsAre("stats 0 bytes / 0 bytes"));
  EXPECT_EQ(s.Sent(), "");
  EXPECT_EQ(s.dialogue.queued_commands(), 0u);
}

TEST(ManagementDialogueTest, PartialSendsKeepTheRestForTheNextWrite) {
  Session s;
  s.chunk = 3;
  s.Start("1001", "secret");
  s.Feed(">HOLD:Waiting for hold release:0\r\n");
  EXPECT_EQ(s.Sent(), "hold off\n");
  EXPECT_EQ(s.sends, 3u);  // "hol", "d o", "ff\n"
  s.room = 0;              // the socket is full
  s.Feed("SUCCESS: hold flag set to OFF\r\n");
  EXPECT_EQ(s.Sent(), "");
  EXPECT_EQ(s.dialogue.PendingOutput(), "hold release\n");
  s.Writable(5);
  EXPECT_EQ(s.Sent(), "hold ");
  EXPECT_EQ(s.dialogue.PendingOutput(), "release\n");
  EXPECT_FALSE(s.dialogue.command_in_flight_sent());
  s.Writable(Session::kUnlimited);
  EXPECT_EQ(s.Sent(), "release\n");
  EXPECT_TRUE(s.dialogue.command_in_flight_sent());
  EXPECT_EQ(s.dialogue.PendingOutput(), "");
}

TEST(ManagementDialogueTest, ReplyBeforeTheCommandIsFullySentIsNotItsReply) {
  Session s;
  s.room = 4;
  s.Start();
  s.Feed(">HOLD:Waiting for hold release:0\r\n");
  EXPECT_EQ(s.Sent(), "hold");
  // Only "hold" has gone; a line now cannot answer it.
  s.Feed("SUCCESS: early\r\n");
  EXPECT_EQ(s.dialogue.PendingOutput(), " off\n");
  EXPECT_EQ(s.dialogue.queued_commands(), 2u);
  s.Writable(Session::kUnlimited);
  EXPECT_EQ(s.Sent(), " off\n");  // never spliced with "hold release"
  s.Feed("SUCCESS: hold flag set to OFF\r\n");
  EXPECT_EQ(s.Sent(), "hold release\n");
}

TEST(ManagementDialogueTest, CredentialsAreQuotedAndEscaped) {
  Session s;
  s.Start("my id", "pa ss\"wo\\rd");
  s.Feed(">PASSWORD:Need 'Auth' username/password\r\n");
  EXPECT_EQ(s.Sent(), "username \"Auth\" \"my id\"\n");
  s.Feed("SUCCESS: 'Auth' username entered, but not yet verified\r\n");
  EXPECT_EQ(s.Sent(), "password \"Auth\" \"pa ss\\\"wo\\\\rd\"\n");
}

TEST(ManagementDialogueTest, LineBreaksInCredentialsCannotInjectCommands) {
  Session s;
  s.Start("id\n", "x\"\nsignal SIGTERM\r\n");
  s.Feed(">PASSWORD:Need 'Auth' username/password\r\n");
  s.Feed("SUCCESS: u\r\n");
  EXPECT_EQ(s.Sent(), "username \"Auth\" \"id\"\npassword \"Auth\" \"x\\\"signal SIGTERM\"\n");
}

TEST(ManagementDialogueTest, LongCredentialsAreCutTo1023Characters) {
  Session s;
  s.Start(std::string(1005, 'u'), std::string(1006, 'p'));
  s.Feed(">PASSWORD:Need 'Auth' username/password\r\n");
  const std::string user = s.Sent();
  EXPECT_EQ(user, "username \"Auth\" \"" + std::string(1005, 'u') + "\"\n");
  EXPECT_EQ(user.size(), 1024u);  // 1023 characters and the LF
  s.Feed("SUCCESS: u\r\n");
  EXPECT_EQ(s.Sent(), "password \"Auth\" \"" + std::string(1005, 'p') + "\"\n");
}

TEST(ManagementDialogueTest, ManyReplyLinesAndNotificationsDoNotGrowTheQueueWithoutEnd) {
  Session s;
  s.Start();
  std::string flood;
  for (int i = 0; i < 200; ++i) flood += ">INFO:again\r\n>HOLD:again\r\n";
  s.Feed(flood);
  EXPECT_EQ(s.dialogue.queued_commands(), kMaxQueuedCommands);
  for (size_t i = 0; i < kMaxQueuedCommands; ++i) s.Feed("SUCCESS: x\r\n");
  EXPECT_EQ(s.dialogue.queued_commands(), 0u);
  s.Feed(">HOLD:later\r\n");
  EXPECT_EQ(s.dialogue.queued_commands(), 2u);
}

TEST(ManagementDialogueTest, LoneLineFeedsAreNoReply) {
  Session s;
  s.Start();
  s.Feed(">HOLD:x\r\n");
  s.Sent();
  s.Feed("\n");
  s.Feed("\r\n");
  s.Feed("\n\n\r\n");
  EXPECT_EQ(s.Sent(), "");
  EXPECT_EQ(s.dialogue.queued_commands(), 2u);
}

TEST(ManagementDialogueTest, BareLineFeedEndingsLoseNoCharacter) {
  Session s;
  s.Start();
  s.Actions();
  s.Feed(">STATE:1700000000,WAIT,,\n");
  EXPECT_THAT(s.Actions(), ElementsAre("status wait answer..."));
  EXPECT_EQ(s.dialogue.last_state_name(), "WAIT");
}

TEST(ManagementDialogueTest, LinesAtTheLengthLimit) {
  const std::string head = ">STATE:1700000000,CONNECTED,SUCCESS,";
  {
    // 1022 characters, CR and LF: 1024 bytes, still a line.
    Session s;
    s.Start();
    s.Actions();
    s.Feed(head + std::string(1022 - head.size(), 'x') + "\r\n");
    EXPECT_THAT(s.Actions(), ElementsAre("state 3"));
  }
  {
    // 1023 characters and LF: 1024 bytes, still a line.
    Session s;
    s.Start();
    s.Actions();
    s.Feed(head + std::string(1023 - head.size(), 'x') + "\n");
    EXPECT_THAT(s.Actions(), ElementsAre("state 3"));
  }
  {
    // 1023 characters, CR and LF: 1025 bytes, dropped; the connection stays.
    Session s;
    s.Start();
    s.Actions();
    s.Feed(head + std::string(1023 - head.size(), 'x') + "\r\n");
    EXPECT_THAT(s.Actions(), IsEmpty());
    EXPECT_EQ(s.dialogue.state(), ENGINE_CONNECTING);
    s.Feed(StateLine("CONNECTED"));
    EXPECT_THAT(s.Actions(), ElementsAre("state 3"));
  }
}

TEST(ManagementDialogueTest, OverLongLinesAreDroppedAndTheConnectionKept) {
  Session s;
  s.Start();
  s.Feed(">HOLD:x\r\n");
  s.Sent();
  s.Actions();
  // A long log notification in pieces: dropped, not a reply.
  const std::string log = ">LOG:1700000000,D," + std::string(5000, 'l') + "\r\n";
  for (size_t at = 0; at < log.size(); at += 700) s.Feed(log.substr(at, 700));
  EXPECT_LE(s.dialogue.buffered_bytes(), kMaxManagementLineBytes);
  EXPECT_EQ(s.Sent(), "");
  EXPECT_EQ(s.dialogue.queued_commands(), 2u);
  // A long reply still answers the command in flight, whatever it said.
  s.Feed("ERROR: " + std::string(3000, 'e') + "\r\n");
  EXPECT_EQ(s.Sent(), "hold release\n");
  s.Feed(StateLine("WAIT"));
  EXPECT_THAT(s.Actions(), ElementsAre("status wait answer..."));
}

TEST(ManagementDialogueTest, ConnectRetriesAreSpacedAndEndAtTheDeadline) {
  Session s;
  s.dialogue.Start("1001", "secret");
  s.dialogue.OnConnectAttempt(1000);
  s.dialogue.OnConnectResult(10061, 1002);  // refused at once
  s.Pump();
  EXPECT_THAT(s.Actions(), ElementsAre("state 1", "retry 98"));
  s.dialogue.OnConnectAttempt(1100);
  s.dialogue.OnConnectResult(10061, 1400);  // refused after a while
  s.Pump();
  EXPECT_THAT(s.Actions(), ElementsAre("retry 0"));
  s.dialogue.OnConnectAttempt(15990);
  s.dialogue.OnConnectResult(10061, 15999);
  s.Pump();
  EXPECT_THAT(s.Actions(), ElementsAre("retry 91"));
  s.dialogue.OnConnectAttempt(16000);  // the window is 15 s from the first attempt
  s.dialogue.OnConnectResult(10061, 16000);
  s.Pump();
  EXPECT_THAT(s.Actions(), ElementsAre("close", "state 0", kNotStarted));
  s.dialogue.OnConnectResult(10061, 16100);
  s.Pump();
  EXPECT_THAT(s.Actions(), IsEmpty());
}

TEST(ManagementDialogueTest, ServiceThatCannotBeAskedEndsTheAttemptAtOnce) {
  Session s;
  s.dialogue.Start("1001", "secret");
  s.dialogue.OnServiceUnavailable();
  s.Pump();
  EXPECT_THAT(s.Actions(), ElementsAre("state 1", "close", "state 0", kNotStarted));
}

TEST(ManagementDialogueTest, AForeignListenerEndsTheAttemptBeforeAnythingIsSent) {
  Session s;
  s.Start();
  EXPECT_THAT(s.Actions(), ElementsAre("state 1"));
  s.dialogue.OnForeignListener();
  s.Pump();
  EXPECT_THAT(s.Actions(),
              ElementsAre("close", "state 0",
                          "message Another program is using the port of the VPN connection (127.0.0.1:13247), so "
                          "Veltrona VPN did not send your VPN ID and activation code to it. Close that program and "
                          "connect again. | Veltrona VPN Free Trial | warning"));
  // What the listener says afterwards gets no answer, and no retry follows.
  s.Feed(">INFO:OpenVPN Management Interface Version 5\r\n>HOLD:Waiting for hold release:0\r\n"
         ">PASSWORD:Need 'Auth' username/password\r\n");
  s.dialogue.OnConnectResult(10061, 5000);
  s.Pump();
  EXPECT_EQ(s.Sent(), "");
  EXPECT_THAT(s.Actions(), IsEmpty());
  EXPECT_EQ(s.dialogue.state(), ENGINE_DISCONNECTED);
}

TEST(ManagementDialogueTest, DisconnectFromOutside) {
  Session s;
  s.Connected();
  s.Timer();
  s.dialogue.Disconnect();
  s.Pump();
  EXPECT_THAT(s.Actions(), ElementsAre("state 0"));  // the adapter closes the socket itself
  EXPECT_EQ(s.dialogue.queued_commands(), 0u);
  EXPECT_EQ(s.dialogue.last_state_name(), "CONNECTED");  // kept, as OpenVPN's last word
  s.Feed(StatusReply("1", "2"));
  s.Close();
  EXPECT_THAT(s.Actions(), IsEmpty());
  s.dialogue.Disconnect();
  s.Pump();
  EXPECT_THAT(s.Actions(), IsEmpty());  // already 0: no second refresh
}

TEST(ManagementDialogueTest, NextAttemptStartsClean) {
  Session s;
  s.Start();
  s.Feed(">HOLD:x\r\nSUCCESS: par");  // a half line and a queued command
  s.dialogue.Disconnect();
  s.Start();
  s.Sent();
  s.Feed("tial\r\n");  // not glued to the old half line: a stray reply
  s.Feed(">HOLD:x\r\n");
  EXPECT_EQ(s.Sent(), "hold off\n");
  EXPECT_EQ(s.dialogue.queued_commands(), 2u);
}

TEST(ManagementDialogueTest, RestartAfterAnAuthOfAnEarlierAttemptCountsAsRejected) {
  // The last state name outlives a disconnect.
  Session s;
  s.Start();
  s.Feed(StateLine("AUTH"));
  s.dialogue.Disconnect();
  s.Start();
  s.Actions();
  s.Feed(StateLine("RECONNECTING"));
  EXPECT_THAT(s.Actions(), ElementsAre("close", "state 0", "login failed"));
}

}  // namespace
}  // namespace veltrona::engines
