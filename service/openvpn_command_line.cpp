#include "service/openvpn_command_line.h"

#include "ipc/protocol.h"

namespace veltrona::service {

std::optional<std::u16string> BuildOpenVpnCommandLine(std::u16string_view config_path) {
  if (config_path.empty() || config_path.find_first_of(u"\"\r\n") != std::u16string_view::npos ||
      config_path.back() == u'\\') {
    return std::nullopt;
  }
  std::u16string line = u" --config \"";
  line += config_path;
  line += u"\" --service ";
  line += ipc::kExitEventName;
  line += u" 0 --management 127.0.0.1 ";
  for (char c : std::to_string(ipc::kManagementPort)) line += static_cast<char16_t>(c);
  line += u" --management-hold --management-query-passwords --tls-exit";
  // The limit counts the terminator.
  if (line.size() >= kMaxCommandLineChars) return std::nullopt;
  return line;
}

}  // namespace veltrona::service
