// Which rows of the TCP table hold the management port, and who may be given
// the credentials.
#include <gtest/gtest.h>

#include <vector>

#include "ipc/management_port.h"

namespace veltrona::ipc {
namespace {

constexpr uint16_t kPort = 13247;
constexpr uint32_t kListen = static_cast<uint32_t>(TcpState::kListen);
constexpr uint32_t kEstablished = static_cast<uint32_t>(TcpState::kEstablished);
constexpr uint32_t kTimeWait = static_cast<uint32_t>(TcpState::kTimeWait);
constexpr uint32_t kLan = 0xC0A80105;  // 192.168.1.5

TcpRow Row(uint32_t state, TcpEndpoint local, TcpEndpoint remote, uint32_t pid) {
  return TcpRow{state, local, remote, pid};
}

TEST(ManagementPortListener, ALoopbackOrAnyAddressListenerHoldsThePort) {
  const std::vector<TcpRow> loopback{Row(kListen, {kLoopbackAddress, kPort}, {}, 700)};
  ASSERT_TRUE(FindLoopbackListener(loopback, kPort));
  EXPECT_EQ(FindLoopbackListener(loopback, kPort)->pid, 700u);
  const std::vector<TcpRow> any{Row(kListen, {kAnyAddress, 80}, {}, 4), Row(kListen, {kAnyAddress, kPort}, {}, 800)};
  ASSERT_TRUE(FindLoopbackListener(any, kPort));
  EXPECT_EQ(FindLoopbackListener(any, kPort)->pid, 800u);
}

TEST(ManagementPortListener, ConnectionsClosingOnesAndOtherAddressesDoNotHoldIt) {
  // What an earlier OpenVPN and its client leave behind, and listeners that
  // a connection to 127.0.0.1 never reaches.
  const std::vector<TcpRow> rows{
      Row(kTimeWait, {kLoopbackAddress, kPort}, {kLoopbackAddress, 50123}, 0),
      Row(kEstablished, {kLoopbackAddress, 50124}, {kLoopbackAddress, kPort}, 900),
      Row(kListen, {kLan, kPort}, {}, 901),
      Row(kListen, {kLoopbackAddress + 1, kPort}, {}, 902),
      Row(kListen, {kLoopbackAddress, kPort + 1}, {}, 903),
  };
  EXPECT_FALSE(FindLoopbackListener(rows, kPort));
  EXPECT_FALSE(FindLoopbackListener({}, kPort));
}

TEST(ManagementPortConnection, TheServerEndIsTheRowFacingTheClientsOwnEnd) {
  const TcpEndpoint client_end{kLoopbackAddress, 50200};
  const std::vector<TcpRow> rows{
      Row(kListen, {kLoopbackAddress, kPort}, {}, 10),
      // The client's own end, and someone else's connection to the port.
      Row(kEstablished, client_end, {kLoopbackAddress, kPort}, 20),
      Row(kEstablished, {kLoopbackAddress, kPort}, {kLoopbackAddress, 50201}, 30),
      Row(kEstablished, {kLoopbackAddress, kPort}, client_end, 40),
  };
  const std::optional<TcpRow> server_end = FindServerEnd(rows, kPort, client_end);
  ASSERT_TRUE(server_end);
  EXPECT_EQ(server_end->pid, 40u);
}

TEST(ManagementPortConnection, NoEstablishedServerEndMeansNone) {
  const TcpEndpoint client_end{kLoopbackAddress, 50200};
  const std::vector<TcpRow> rows{
      Row(kListen, {kLoopbackAddress, kPort}, {}, 10),
      Row(kEstablished, client_end, {kLoopbackAddress, kPort}, 20),
      Row(kTimeWait, {kLoopbackAddress, kPort}, client_end, 0),
      Row(kEstablished, {kAnyAddress, kPort}, client_end, 50),
  };
  EXPECT_FALSE(FindServerEnd(rows, kPort, client_end));
}

constexpr std::u16string_view kInstalled = u"C:\\Program Files\\Veltrona VPN\\openvpn.exe";

PortOwner Owner(uint32_t pid, std::u16string image) { return PortOwner{true, pid, std::move(image)}; }

TEST(ManagementPeerTrust, OnlyTheInstalledOpenVpnGetsTheCredentials) {
  EXPECT_TRUE(TrustManagementPeer(Owner(1234, std::u16string(kInstalled)), kInstalled, false));
  // Windows paths: any case of letters, either slash.
  EXPECT_TRUE(TrustManagementPeer(Owner(1234, u"c:\\PROGRAM FILES\\veltrona vpn\\OpenVPN.EXE"), kInstalled, false));
  EXPECT_TRUE(TrustManagementPeer(Owner(1234, u"C:/Program Files/Veltrona VPN/openvpn.exe"), kInstalled, false));

  EXPECT_FALSE(TrustManagementPeer(Owner(1234, u"C:\\Users\\eve\\openvpn.exe"), kInstalled, false));
  EXPECT_FALSE(TrustManagementPeer(Owner(1234, u"C:\\Program Files\\Veltrona VPN\\openvpn.exe.exe"), kInstalled,
                                   false));
  EXPECT_FALSE(TrustManagementPeer(Owner(1234, u"C:\\Tools\\listener.exe"), kInstalled, true));
}

TEST(ManagementPeerTrust, WhatCannotBeToldIsRefused) {
  // The owner's program could not be read, there was no row, no installation.
  EXPECT_FALSE(TrustManagementPeer(Owner(1234, u""), kInstalled, false));
  EXPECT_FALSE(TrustManagementPeer(PortOwner{}, kInstalled, false));
  EXPECT_FALSE(TrustManagementPeer(PortOwner{}, kInstalled, true));
  EXPECT_FALSE(TrustManagementPeer(Owner(1234, std::u16string(kInstalled)), u"", false));
}

TEST(ManagementPeerTrust, OwnerZeroIsRefusedOnWindowsAndAcceptedUnderWine) {
  EXPECT_FALSE(TrustManagementPeer(Owner(0, u""), kInstalled, false));
  EXPECT_TRUE(TrustManagementPeer(Owner(0, u""), kInstalled, true));
}

}  // namespace
}  // namespace veltrona::ipc
