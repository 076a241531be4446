#include "client/config/deployment.h"

#include <string>

#include "base/ascii.h"

namespace veltrona::config {

namespace {

bool IsDigit(char16_t c) { return IsAsciiDigit(c); }
bool IsHexDigit(char16_t c) { return IsDigit(c) || (ToAsciiLower(c) >= u'a' && ToAsciiLower(c) <= u'f'); }

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

std::optional<std::uint16_t> ParsePort(std::u16string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  std::uint32_t port = 0;
  for (char16_t c : text) {
    if (!IsDigit(c)) return std::nullopt;
    port = port * 10 + static_cast<std::uint32_t>(c - u'0');
  }
  if (port == 0 || port > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(port);
}

bool IsHostName(std::u16string_view host) {
  if (host.empty() || host.size() > kMaxHostChars) return false;
  if (host.front() == u'.' || host.front() == u'-') return false;
  for (char16_t c : host) {
    if (!IsAsciiLetter(c) && !IsDigit(c) && c != u'.' && c != u'-' && c != u'_') return false;
  }
  return true;
}

bool IsIpv6Text(std::u16string_view host) {
  if (host.size() < 2 || host.size() > 45) return false;
  bool colon = false;
  for (char16_t c : host) {
    if (c == u':') {
      colon = true;
    } else if (!IsHexDigit(c) && c != u'.') {
      return false;
    }
  }
  return colon;
}

HostAddress Resolve(const std::optional<std::u16string>& value, std::u16string_view built_in,
                    std::uint16_t default_port) {
  if (value) {
    if (auto parsed = ParseHostValue(*value, default_port)) return *parsed;
  }
  return HostAddress{std::u16string(built_in), default_port};
}

}  // namespace

std::optional<HostAddress> ParseHostValue(std::u16string_view value, std::uint16_t default_port) {
  value = TrimBlanks(value);
  std::u16string_view host;
  std::u16string_view port_text;
  bool has_port = false;
  if (!value.empty() && value.front() == u'[') {
    const std::size_t close = value.find(u']');
    if (close == std::u16string_view::npos) return std::nullopt;
    host = value.substr(1, close - 1);
    if (!IsIpv6Text(host)) return std::nullopt;
    const std::u16string_view rest = value.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != u':') return std::nullopt;
      port_text = rest.substr(1);
      has_port = true;
    }
  } else {
    const std::size_t colon = value.find(u':');
    host = value.substr(0, colon);
    if (colon != std::u16string_view::npos) {
      port_text = value.substr(colon + 1);
      has_port = true;
    }
    if (!IsHostName(host)) return std::nullopt;
  }
  std::uint16_t port = default_port;
  if (has_port) {
    const auto parsed = ParsePort(port_text);
    if (!parsed) return std::nullopt;
    port = *parsed;
  }
  return HostAddress{std::u16string(host), port};
}

bool IsAcceptableWebAddress(std::u16string_view address) {
  if (address.size() > kMaxWebAddressChars) return false;
  const bool https = address.starts_with(u"https://");
  const bool http = address.starts_with(u"http://");
  if (!https && !http) return false;
  if (address.size() == (https ? 8u : 7u)) return false;  // a scheme without a host
  for (char16_t c : address) {
    if (c <= u' ' || c >= 0x7F) return false;
    switch (c) {
      case u'&': case u'|': case u'<': case u'>': case u'^': case u'"': case u'%': case u'(': case u')':
      case u'!':
        return false;
      default:
        break;
    }
  }
  return true;
}

DeploymentValues ResolveDeployment(const DeploymentOverrides& overrides) {
  DeploymentValues values;
  values.config_host = Resolve(overrides.config_host, kDefaultConfigHost, kConfigHostDefaultPort);
  values.billing_host = Resolve(overrides.billing_host, kDefaultBillingHost, kBillingHostDefaultPort);
  values.web_site = overrides.web_site && IsAcceptableWebAddress(*overrides.web_site)
                        ? *overrides.web_site
                        : std::u16string(kDefaultWebSite);
  return values;
}

std::u16string AccountPageAddress(const HostAddress& billing_host) {
  std::u16string address = u"https://";
  const bool ipv6 = billing_host.host.find(u':') != std::u16string::npos;
  if (ipv6) address += u'[';
  address += billing_host.host;
  if (ipv6) address += u']';
  if (billing_host.port != kBillingHostDefaultPort) {
    address += u':';
    for (char c : std::to_string(billing_host.port)) address += static_cast<char16_t>(c);
  }
  address += u"/clientarea.php?action=products";
  return address;
}

}  // namespace veltrona::config
