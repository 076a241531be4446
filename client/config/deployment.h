// The vendor's hosts and web site. Each has a built-in value; an installer (or
// a test) may override it with a string under the machine's VeltronaVPN key
// (settings table: "Config Host", "Billing Host", "Web Site"). An override
// that does not parse is ignored and the built-in value used, so a typo in a
// deployment never points the client at a half-read host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrona::config {

// Placeholders under the reserved ".example" domain until the vendor's real
// names are fixed; they never resolve, so a build without overrides fails
// cleanly instead of talking to someone else's host.
inline constexpr std::u16string_view kDefaultConfigHost = u"config.veltrona.example";
inline constexpr std::u16string_view kDefaultBillingHost = u"api.veltrona.example";
inline constexpr std::u16string_view kDefaultWebSite = u"https://www.veltrona.example/";

// The server list, keys and template are fetched over plain HTTP; the
// problem report is posted over HTTPS.
inline constexpr std::uint16_t kConfigHostDefaultPort = 80;
inline constexpr std::uint16_t kBillingHostDefaultPort = 443;

// Longest host name the resolver accepts.
inline constexpr std::size_t kMaxHostChars = 253;
// Longest web address: it travels in 260-character buffers with its terminator.
inline constexpr std::size_t kMaxWebAddressChars = 259;

struct HostAddress {
  std::u16string host;  // name, IPv4 text or IPv6 text without brackets
  std::uint16_t port = 0;

  bool operator==(const HostAddress&) const = default;
};

// "host", "host:8080", "127.0.0.1:8080", "[::1]" or "[::1]:8443"; blanks
// around the value are dropped. Ports run from 1 to 65535; a host is made of
// letters, digits, ".", "-" and "_" (IPv6 text: hexadecimal digits, ":" and
// "."). Anything else, including a bare IPv6 text without brackets, is
// refused.
[[nodiscard]] std::optional<HostAddress> ParseHostValue(std::u16string_view value, std::uint16_t default_port);

// An address that is safe to hand to "cmd /c start": http or https, printable
// ASCII without blanks and without any character that cmd treats specially
// (& | < > ^ " % ( ) !), at most kMaxWebAddressChars.
[[nodiscard]] bool IsAcceptableWebAddress(std::u16string_view address);

struct DeploymentValues {
  HostAddress config_host;
  HostAddress billing_host;
  std::u16string web_site;
};

// The overrides as read from the registry (nullopt: the value is missing).
struct DeploymentOverrides {
  std::optional<std::u16string> config_host;
  std::optional<std::u16string> billing_host;
  std::optional<std::u16string> web_site;
};

DeploymentValues ResolveDeployment(const DeploymentOverrides& overrides);

// The account page of the billing host, over TLS: "https://", the host (an
// IPv6 text in brackets), ":" and the port unless it is 443, and
// "/clientarea.php?action=products".
std::u16string AccountPageAddress(const HostAddress& billing_host);

}  // namespace veltrona::config
