// The configuration host stand-in from tests/peers, serving a folder on a
// loopback port for as long as the object lives.
#pragma once

#include <string>

#include "base/unique_handle_win.h"

namespace veltrona::test_support {

// data/config-host: the demo content the host serves.
std::wstring DemoContent();
// The installation's "Config Host" value, naming 127.0.0.1:`port` (a write
// that fails fails the running test), and removed again.
bool PointClientAtConfigHost(unsigned short port);
void ForgetConfigHost();

class ConfigHost {
 public:
  // `switches` are the stand-in's behaviour switches; a non-empty `log_file`
  // receives the request heads it was sent.
  ConfigHost(unsigned short port, const std::wstring& folder, const std::wstring& switches = L"",
             const std::wstring& log_file = L"");
  ~ConfigHost();
  ConfigHost(const ConfigHost&) = delete;
  ConfigHost& operator=(const ConfigHost&) = delete;

  [[nodiscard]] bool Listening() const { return listening_; }

 private:
  UniqueProcess process_;
  bool listening_ = false;
};

}  // namespace veltrona::test_support
