// The command line the service gives OpenVPN. The program goes separately as
// the application name, so the line starts with a blank: the program-name
// word is empty and OpenVPN reads --config as its first option.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrona::service {

inline constexpr size_t kMaxCommandLineChars = 1024;

// Refuses a path that would not stay one quoted word, and a line that would
// not fit its 1024 characters.
[[nodiscard]] std::optional<std::u16string> BuildOpenVpnCommandLine(std::u16string_view config_path);

}  // namespace veltrona::service
