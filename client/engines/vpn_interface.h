// The engine the rest of the client drives without knowing which one it is:
// its ten operations, its state codes and the window messages that the main
// window forwards to it.
#pragma once

#include <cstdint>
#include <string_view>

#include "client/common/window_ids.h"
#include "client/engines/engine_state.h"

namespace veltrona::app {
class ConnectionController;
}

namespace veltrona::engines {

using common::WM_VPN_SOCKET;
using common::kRasDialEventMessageName;

// The main window's handle (HWND), kept opaque so that this header stays
// free of platform types.
using WindowHandle = void*;

class VpnInterface {
 public:
  // Declared in slot order; new operations go at the end.
  virtual ~VpnInterface() = default;
  virtual void Prepare() {}
  virtual void Configure() {}
  // A forwarded WM_VPN_SOCKET, "RasDialEvent" or WM_RASDIALEVENT.
  [[nodiscard]] virtual int OnEvent(uint32_t w_param, int32_t l_param) = 0;
  virtual void UpdateStatistics() = 0;
  // 0: the connection is being set up; non-zero: it could not be started.
  [[nodiscard]] virtual int ConnectTunnel(std::u16string_view server, std::u16string_view vpn_id,
                                          std::u16string_view activation_code) = 0;
  virtual void DisconnectTunnel() = 0;
  virtual void Attach(app::ConnectionController* controller, WindowHandle main_window) = 0;
  // The one operation that may be called from any thread (the browser
  // watch calls it on COM's threads): engines keep their state atomic.
  virtual EngineState GetState() = 0;
  virtual void PeriodicCheck() = 0;

 protected:
  VpnInterface() = default;
  VpnInterface(const VpnInterface&) = default;
  VpnInterface& operator=(const VpnInterface&) = default;
};

// The PPTP engine is chosen by "pptp" anywhere in the ANSI command line,
// lower case only, also inside a longer word.
[[nodiscard]] bool WantsPptpEngine(std::string_view ansi_command_line);

}  // namespace veltrona::engines
