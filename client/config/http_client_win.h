// The client's only HTTP code: GET from the configuration host and the
// problem report's POST to the billing host, over WinInet. Every call opens
// its own Internet handle and closes it before returning; failures fold into
// the result and are never shown here.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "client/config/deployment.h"
#include "client/config/http_request.h"

namespace veltrona::config {

struct HttpTimeouts {
  DWORD connect_ms = kConnectTimeoutMs;
  DWORD send_ms = kSendTimeoutMs;
  DWORD receive_ms = kReceiveTimeoutMs;
};

// The hosts and web site: built-in values, overridden by what an installer
// (or a test) wrote under the machine's VeltronaVPN key.
[[nodiscard]] DeploymentValues ReadDeploymentValues() noexcept;

// Fetches `path` ("/" put in front when missing) from `host` and appends the
// body to `body`. With a Content-Length, the body is exactly that many bytes
// (zero where the read fell short) and the result is how many arrived;
// without one, the body is read to its end and the result is its length.
// Result 0: not sent, refused path, refused or unreadable length, a body
// without length that breaks off or exceeds kMaxBodyBytes; `body` then gains
// nothing except in the Content-Length case, where it gains the zero buffer.
[[nodiscard]] DWORD HttpGet(const HostAddress& host, std::wstring_view path, std::string& body,
                            const HttpTimeouts& timeouts = {}) noexcept;

// The same from the configuration host of this deployment.
[[nodiscard]] DWORD HttpGet(std::wstring_view path, std::string& body) noexcept;

// Posts the multipart `body` to "toolreport.php" over HTTPS; the response is
// not read. TRUE when the send succeeded.
[[nodiscard]] BOOL HttpPostMultipart(const HostAddress& host, const std::string& body,
                                     const HttpTimeouts& timeouts = {}) noexcept;

// The same to the billing host of this deployment.
[[nodiscard]] BOOL HttpPostMultipart(const std::string& body) noexcept;

}  // namespace veltrona::config
