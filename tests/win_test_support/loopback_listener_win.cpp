#include "tests/win_test_support/loopback_listener_win.h"

#include <utility>

namespace veltrona::test_support {
namespace {

constexpr long kPollMicroseconds = 50000;

bool Readable(SOCKET socket) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval wait{0, kPollMicroseconds};
  return ::select(0, &set, nullptr, nullptr, &wait) == 1;
}

}  // namespace

LoopbackListener::LoopbackListener(uint16_t port, std::string greeting) : greeting_(std::move(greeting)) {
  listener_.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  if (listener_ && (::bind(listener_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
                    ::listen(listener_.Get(), SOMAXCONN) != 0)) {
    listener_.Reset();
  }
  if (listening()) thread_ = std::thread([this] { Serve(); });
}

LoopbackListener::~LoopbackListener() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::string LoopbackListener::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void LoopbackListener::Serve() {
  UniqueSocket connection;
  while (!stop_) {
    if (!connection) {
      if (!Readable(listener_.Get())) continue;
      sockaddr_in peer{};
      int peer_size = sizeof peer;
      connection.Reset(::accept(listener_.Get(), reinterpret_cast<sockaddr*>(&peer), &peer_size));
      if (!connection) continue;
      peer_port_ = ::ntohs(peer.sin_port);
      ++accepted_;
      peer_closed_ = false;
      if (!greeting_.empty()) ::send(connection.Get(), greeting_.data(), static_cast<int>(greeting_.size()), 0);
      continue;
    }
    if (!Readable(connection.Get())) continue;
    char buffer[1024];
    const int received = ::recv(connection.Get(), buffer, sizeof buffer, 0);
    if (received <= 0) {
      connection.Reset();
      peer_closed_ = true;
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    received_.append(buffer, static_cast<size_t>(received));
  }
}

}  // namespace veltrona::test_support
