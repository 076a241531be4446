// The engine the rest of the client drives without knowing which one it is:
// its ten operations, its state codes and the window messages that the main
// window forwards to it.
#pragma once

#include <cstdint>
#include <string_view>

#include "client/engines/management_dialogue.h"

namespace veltrona::app {
class ConnectionController;
}

namespace veltrona::engines {

// A plain 32-bit code; 2 is never produced, "connected" is 3.
using EngineState = int32_t;
inline constexpr EngineState ENGINE_DISCONNECTED = 0;
inline constexpr EngineState ENGINE_CONNECTING = 1;
inline constexpr EngineState ENGINE_CONNECTED = 3;
static_assert(ENGINE_DISCONNECTED == kEngineDisconnected && ENGINE_CONNECTING == kEngineConnecting &&
              ENGINE_CONNECTED == kEngineConnected);

// The management socket's notifications (WM_APP + 2).
inline constexpr uint32_t WM_VPN_SOCKET = 0x8002;
// Registered with RegisterWindowMessageA before the main window exists.
inline constexpr std::string_view kRasDialEventMessageName = "RasDialEvent";
// The fixed message RAS falls back to. A macro, spelled as <ras.h> spells
// it, so that both headers can meet in one file.
#ifndef WM_RASDIALEVENT
#define WM_RASDIALEVENT 0xCCCD
#endif

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
  virtual int OnEvent(uint32_t w_param, int32_t l_param) = 0;
  virtual void UpdateStatistics() = 0;
  // 0: the connection is being set up; non-zero: it could not be started.
  virtual int ConnectTunnel(std::u16string_view server, std::u16string_view vpn_id,
                            std::u16string_view activation_code) = 0;
  virtual void DisconnectTunnel() = 0;
  virtual void Attach(app::ConnectionController* controller, WindowHandle main_window) = 0;
  virtual EngineState GetState() = 0;
  virtual void PeriodicCheck() = 0;

 protected:
  VpnInterface() = default;
  VpnInterface(const VpnInterface&) = default;
  VpnInterface& operator=(const VpnInterface&) = default;
};

// The PPTP engine is chosen by "pptp" anywhere in the ANSI command line,
// lower case only, also inside a longer word.
bool WantsPptpEngine(std::string_view ansi_command_line);

}  // namespace veltrona::engines
