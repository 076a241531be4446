#include "client/config/http_client_win.h"

#include <wininet.h>

#include <new>
#include <optional>
#include <vector>

#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/config/multipart.h"
#include "client/config/settings_store_win.h"

namespace veltrona::config {

namespace {

// Both hosts are contacted with the same context value per kind of request.
constexpr DWORD_PTR kGetContext = 1;
constexpr DWORD_PTR kPostContext = 0;
// Room for the Content-Length text: 100 wide characters.
constexpr DWORD kContentLengthChars = 100;
// Bodies without a length are read in pieces of this size.
constexpr DWORD kReadChunkBytes = 16 * 1024;

// The user-interface thread waits on every request; a silent host must not
// hold it for WinInet's own, much longer defaults. Set on every handle of the
// request, since not every WinInet hands them down from the Internet handle.
void SetTimeouts(HINTERNET handle, const HttpTimeouts& timeouts) {
  if (handle == nullptr) return;
  DWORD connect = timeouts.connect_ms;
  DWORD send = timeouts.send_ms;
  DWORD receive = timeouts.receive_ms;
  ::InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  ::InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof send);
  ::InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

UniqueInternet OpenInternet(const HttpTimeouts& timeouts) {
  const std::wstring agent = ToWide(kUserAgent);
  UniqueInternet internet(::InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  SetTimeouts(internet.Get(), timeouts);
  return internet;
}

// The Content-Length header as text; nullopt when the reply has none. A
// header too long for the buffer comes back as text that ExpectBody refuses.
std::optional<std::u16string> ContentLengthText(HINTERNET request) {
  wchar_t text[kContentLengthChars] = {};
  DWORD size = sizeof text;
  if (::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
    return ToU16(std::wstring_view(text, size / sizeof(wchar_t)));
  }
  if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER) return u"99999999999999999999";
  return std::nullopt;
}

// Fills `buffer` as far as the reply goes; the count that arrived.
DWORD ReadInto(HINTERNET request, std::vector<char>& buffer) {
  DWORD total = 0;
  while (total < buffer.size()) {
    DWORD read = 0;
    if (!::InternetReadFile(request, buffer.data() + total, static_cast<DWORD>(buffer.size() - total), &read) ||
        read == 0) {
      break;
    }
    total += read;
  }
  return total;
}

// A body without Content-Length: all of it, or nothing when it breaks off or
// runs past the bound.
std::optional<std::string> ReadToEnd(HINTERNET request) {
  std::string whole;
  std::vector<char> chunk(kReadChunkBytes);
  for (;;) {
    DWORD read = 0;
    if (!::InternetReadFile(request, chunk.data(), kReadChunkBytes, &read)) return std::nullopt;
    if (read == 0) return whole;
    if (whole.size() + read > kMaxBodyBytes) return std::nullopt;
    whole.append(chunk.data(), read);
  }
}

DWORD ReadBody(HINTERNET request, std::string& body) {
  const std::optional<std::u16string> length_text = ContentLengthText(request);
  const BodyExpectation expectation =
      ExpectBody(length_text ? std::optional<std::u16string_view>(*length_text) : std::nullopt);
  if (expectation.refused) return 0;
  if (!expectation.length) {
    std::optional<std::string> whole = ReadToEnd(request);
    if (!whole) return 0;
    body.append(*whole);
    return static_cast<DWORD>(whole->size());
  }
  std::vector<char> buffer(static_cast<std::size_t>(*expectation.length), '\0');
  const DWORD arrived = ReadInto(request, buffer);
  // Callers find the padding by the count; the body keeps the announced size.
  body.append(buffer.data(), buffer.size());
  return arrived;
}

}  // namespace

DeploymentValues ReadDeploymentValues() noexcept {
  try {
    DeploymentOverrides overrides;
    std::wstring value;
    if (ReadStringSetting(SettingId::kConfigHost, value)) overrides.config_host = ToU16(value);
    if (ReadStringSetting(SettingId::kBillingHost, value)) overrides.billing_host = ToU16(value);
    if (ReadStringSetting(SettingId::kWebSite, value)) overrides.web_site = ToU16(value);
    return ResolveDeployment(overrides);
  } catch (const std::bad_alloc&) {
    return ResolveDeployment({});
  }
}

DWORD HttpGet(const HostAddress& host, std::wstring_view path, std::string& body,
              const HttpTimeouts& timeouts) noexcept {
  try {
    const std::u16string path_text = ToU16(path);
    if (!IsRequestPathText(path_text)) return 0;
    const std::wstring object_name = ToWide(BuildObjectName(path_text));
    const std::wstring host_name = ToWide(host.host);
    const std::wstring accept_all = ToWide(kAcceptAllTypes);
    LPCWSTR accept_types[] = {accept_all.c_str(), nullptr};
    const std::wstring extra_header = ToWide(kGetExtraHeader);

    const UniqueInternet internet = OpenInternet(timeouts);
    const UniqueInternet connection(::InternetConnectW(internet.Get(), host_name.c_str(), host.port, nullptr,
                                                       nullptr, INTERNET_SERVICE_HTTP, 0, kGetContext));
    const UniqueInternet request(::HttpOpenRequestW(connection.Get(), L"GET", object_name.c_str(), nullptr,
                                                    nullptr, accept_types, 0, kGetContext));
    SetTimeouts(connection.Get(), timeouts);
    SetTimeouts(request.Get(), timeouts);
    if (!::HttpSendRequestW(request.Get(), extra_header.c_str(), static_cast<DWORD>(extra_header.size()), nullptr,
                            0)) {
      return 0;
    }
    return ReadBody(request.Get(), body);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

DWORD HttpGet(std::wstring_view path, std::string& body) noexcept {
  return HttpGet(ReadDeploymentValues().config_host, path, body);
}

BOOL HttpPostMultipart(const HostAddress& host, const std::string& body, const HttpTimeouts& timeouts) noexcept {
  try {
    const std::wstring host_name = ToWide(host.host);
    const std::wstring object_name = ToWide(kReportObjectName);
    const std::wstring accept_all = ToWide(kAcceptAllTypes);
    LPCWSTR accept_types[] = {accept_all.c_str(), nullptr};
    const std::string headers = MultipartHeaders();
    if (body.size() > kMaxBodyBytes) return FALSE;

    const UniqueInternet internet = OpenInternet(timeouts);
    const UniqueInternet connection(::InternetConnectW(internet.Get(), host_name.c_str(), host.port, nullptr,
                                                       nullptr, INTERNET_SERVICE_HTTP, 0, kPostContext));
    const UniqueInternet request(::HttpOpenRequestW(connection.Get(), L"POST", object_name.c_str(), nullptr,
                                                    nullptr, accept_types, INTERNET_FLAG_SECURE, kPostContext));
    SetTimeouts(connection.Get(), timeouts);
    SetTimeouts(request.Get(), timeouts);
    // The body may hold any byte, so it goes through the narrow call with
    // both lengths given.
    return ::HttpSendRequestA(request.Get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                              const_cast<char*>(body.data()), static_cast<DWORD>(body.size()));
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
}

BOOL HttpPostMultipart(const std::string& body) noexcept {
  return HttpPostMultipart(ReadDeploymentValues().billing_host, body);
}

}  // namespace veltrona::config
