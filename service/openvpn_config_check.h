// Decides whether an OpenVPN configuration written by an unprivileged user may
// be run by the service, which runs OpenVPN as LocalSystem. Only an allowlist
// of client directives passes, and every file the configuration names must be
// a plain file inside the user's data folder. What passes is returned as a
// rewritten text (file names made relative) that OpenVPN runs from the
// service's private copy of the folder, so nothing can be swapped after the
// check.
//
// The reader follows OpenVPN's own configuration parser (tokens, quotes,
// backslash escapes, comments, "--" prefix, inline <tag> blocks, line length)
// and refuses anything where the two could disagree.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::service {

// Larger configurations are refused without being read.
inline constexpr size_t kMaxConfigBytes = 1024 * 1024;
// OpenVPN reads lines into a 256-byte buffer and splits longer ones, so a
// line, counted with its line end, must stay below that.
inline constexpr size_t kMaxConfigLineBytes = 255;
// OpenVPN keeps the directive and at most 15 arguments and silently drops
// the rest of a line.
inline constexpr size_t kMaxConfigTokens = 16;
// A client needs a handful of key files; the service copies each one before
// the start, so the count is bounded.
inline constexpr size_t kMaxConfigFiles = 32;

struct ConfigFileReference {
  std::string directive;         // e.g. "ca"
  std::u16string relative_path;  // backslash-separated, relative to the data folder
};

struct ConfigCheckResult {
  bool accepted = false;
  // The directive that was refused; empty when the reason is not one directive.
  std::string refused_directive;
  // Short English text for the service log.
  std::string reason;
  // 1-based line of the refusal, 0 when it concerns the whole text.
  size_t line = 0;
  // The configuration to run: LF line ends, option lines rebuilt from their
  // checked tokens (file names relative and quoted), comment lines and inline
  // blocks kept as they were.
  std::string text;
  // The files `text` names, each once, in order of first use.
  std::vector<ConfigFileReference> files;
};

// `data_folder` is the absolute folder the user's files live in (for
// example u"C:\\Users\\bob\\AppData\\Local\\Veltrona VPN"); relative names are
// resolved against it.
[[nodiscard]] ConfigCheckResult CheckOpenVpnConfig(std::string_view config_text, std::u16string_view data_folder);

}  // namespace veltrona::service
