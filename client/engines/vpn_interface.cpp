#include "client/engines/vpn_interface.h"

namespace veltrona::engines {

bool WantsPptpEngine(std::string_view ansi_command_line) {
  return ansi_command_line.find("pptp") != std::string_view::npos;
}

}  // namespace veltrona::engines
