// A plain TCP listener on a loopback port, as any local program could open
// one: it takes connections one at a time on a thread of its own, sends each
// a greeting, and keeps every byte it receives.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "base/unique_handle_win.h"

namespace veltrona::test_support {

class LoopbackListener {
 public:
  explicit LoopbackListener(uint16_t port, std::string greeting = "");
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  [[nodiscard]] bool listening() const { return listener_.IsValid(); }
  std::string Received() const;
  size_t Accepted() const { return accepted_; }
  // The peer of the last connection closed it.
  bool PeerClosed() const { return peer_closed_; }
  // The port the last connection came from.
  uint16_t PeerPort() const { return peer_port_; }

 private:
  void Serve();

  ScopedWinsock winsock_;
  UniqueSocket listener_;
  std::string greeting_;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> accepted_{0};
  std::atomic<bool> peer_closed_{false};
  std::atomic<uint16_t> peer_port_{0};
  mutable std::mutex mutex_;
  std::string received_;
  std::thread thread_;
};

}  // namespace veltrona::test_support
