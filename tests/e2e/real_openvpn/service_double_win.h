// The service's side of the command pipe and its two events, inside the test
// program, for a machine where the service cannot start OpenVPN (the real
// OpenVPN there is a Linux program that the harness starts). It does what
// the service's worker does with a client's messages: it stores the folder
// of each MSG_SET_PATH and sets the sync event, and when the client sets the
// open event it asks for OpenVPN to be started through `on_open`.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/unique_handle_win.h"
#include "ipc/senders_win.h"

namespace veltrona::test_support {

class ServiceDouble {
 public:
  // Serves names of its own (see endpoints()), or the service's own names
  // for a real client; `on_open` runs on the double's thread.
  explicit ServiceDouble(std::function<void()> on_open, std::optional<ipc::Endpoints> endpoints = std::nullopt);
  ~ServiceDouble();
  ServiceDouble(const ServiceDouble&) = delete;
  ServiceDouble& operator=(const ServiceDouble&) = delete;

  // Whether the pipe and both events exist and the thread runs.
  bool serving() const { return serving_; }
  const ipc::Endpoints& endpoints() const { return endpoints_; }

  // The folder of the last MSG_SET_PATH, as the service would store it.
  std::wstring data_folder() const;
  int set_path_messages() const { return set_path_messages_; }
  int open_requests() const { return open_requests_; }
  int route_checks() const { return route_checks_; }

 private:
  void Serve();
  bool Listen();
  void HandleMessage();
  bool ReadExactly(void* buffer, DWORD size);

  std::function<void()> on_open_;
  ipc::Endpoints endpoints_;
  UniquePipe pipe_;
  UniqueEvent sync_;
  UniqueEvent open_;
  UniqueEvent stop_;
  UniqueEvent connected_;
  UniqueEvent read_done_;
  OVERLAPPED listening_{};
  bool serving_ = false;
  mutable std::mutex mutex_;
  std::wstring data_folder_;
  std::atomic<int> set_path_messages_{0};
  std::atomic<int> open_requests_{0};
  std::atomic<int> route_checks_{0};
  std::thread thread_;
};

}  // namespace veltrona::test_support
