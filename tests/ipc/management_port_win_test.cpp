// The TCP table as the IP Helper reports it, read for the management port's
// checks: listeners, both ends of a connection, and what a closed one leaves.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <algorithm>

#include "base/ascii.h"
#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/engines/openvpn_win.h"
#include "ipc/management_port_win.h"

namespace veltrona::ipc {
namespace {

class TcpTable : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(winsock_.started()); }

  // A listener on `address` and a port the system picks; returns the port.
  static uint16_t Listen(UniqueSocket& listener, uint32_t address) {
    listener.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = ::htonl(address);
    int size = sizeof where;
    if (!listener || ::bind(listener.Get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(listener.Get(), 4) != 0 ||
        ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&where), &size) != 0) {
      return 0;
    }
    return ::ntohs(where.sin_port);
  }

  // A client connected to the loopback listener on `port`.
  static UniqueSocket Connect(uint16_t port) {
    UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = ::htons(port);
    server.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (client && ::connect(client.Get(), reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) client.Reset();
    return client;
  }

  static TcpEndpoint LocalEnd(const UniqueSocket& socket) {
    sockaddr_in where{};
    int size = sizeof where;
    ::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&where), &size);
    return TcpEndpoint{::ntohl(where.sin_addr.s_addr), ::ntohs(where.sin_port)};
  }

 private:
  ScopedWinsock winsock_;
};

TEST_F(TcpTable, ALoopbackConnectionsServerEndAndItsOwnerAreFound) {
  UniqueSocket listener;
  const uint16_t port = Listen(listener, INADDR_LOOPBACK);
  ASSERT_NE(port, 0);
  EXPECT_TRUE(ManagementPortTaken(port));

  UniqueSocket client = Connect(port);
  ASSERT_TRUE(client);
  UniqueSocket accepted(::accept(listener.Get(), nullptr, nullptr));
  ASSERT_TRUE(accepted);

  const PortOwner owner = ServerEndOwner(LocalEnd(client), port);
  ASSERT_TRUE(owner.row_found);
  if (RunningUnderWine()) {
    // Wine gives no socket an owner; what only Windows can show is below.
    EXPECT_EQ(owner.pid, 0u);
  } else {
    wchar_t self[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(owner.pid, ::GetCurrentProcessId());
    EXPECT_TRUE(EqualsIgnoringAsciiCase<char16_t>(owner.image, ToU16(std::wstring_view(self, length))));
  }
  // The client's own end is not the server's.
  EXPECT_FALSE(ServerEndOwner(LocalEnd(accepted), port).row_found);
}

TEST_F(TcpTable, AClosedConnectionDoesNotHoldThePortAndAnyAddressListenerDoes) {
  UniqueSocket listener;
  const uint16_t port = Listen(listener, INADDR_LOOPBACK);
  ASSERT_NE(port, 0);
  UniqueSocket client = Connect(port);
  ASSERT_TRUE(client);
  UniqueSocket accepted(::accept(listener.Get(), nullptr, nullptr));
  // The server's end closes first, so the port's own row lingers in TIME_WAIT.
  accepted.Reset();
  ::Sleep(100);
  client.Reset();
  listener.Reset();
  const std::optional<std::vector<TcpRow>> rows = ReadTcpTable(TcpRows::kAll);
  ASSERT_TRUE(rows);
  EXPECT_TRUE(std::any_of(rows->begin(), rows->end(), [&](const TcpRow& row) { return row.local.port == port; }))
      << "no row of the closed connection is left to ignore";
  EXPECT_FALSE(ManagementPortTaken(port));

  const uint16_t any_port = Listen(listener, INADDR_ANY);
  ASSERT_NE(any_port, 0);
  EXPECT_TRUE(ManagementPortTaken(any_port));
}

}  // namespace
}  // namespace veltrona::ipc
