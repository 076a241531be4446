// The fixed parts of the client's requests and the limits its downloads keep.
// The WinInet calls live in the Windows file beside this one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrona::config {

inline constexpr std::u16string_view kUserAgent = u"VeltronaVPN";
inline constexpr std::u16string_view kAcceptAllTypes = u"*/*";
inline constexpr std::u16string_view kGetExtraHeader = u"Content-Type: application/x-www-form-urlencoded";
static_assert(kGetExtraHeader.size() == 47);
inline constexpr std::u16string_view kReportObjectName = u"toolreport.php";

// The user-interface thread waits on every request, so a host that does not
// answer must give up within what a user sits through.
inline constexpr std::uint32_t kConnectTimeoutMs = 10000;
inline constexpr std::uint32_t kSendTimeoutMs = 15000;
inline constexpr std::uint32_t kReceiveTimeoutMs = 20000;

// No body the client fetches comes near this; a larger Content-Length is
// refused before anything is allocated, and a body without one is read only
// up to it.
inline constexpr std::uint64_t kMaxBodyBytes = 8u << 20;

// A request path that the client passes on unchanged: printable ASCII with no
// blank (a CR or LF would split the request), at most 259 units, not empty.
[[nodiscard]] bool IsRequestPathText(std::u16string_view path);

// "/" in front of a path that does not start with one; nothing else changes.
std::u16string BuildObjectName(std::u16string_view path);

// How much body to read.
struct BodyExpectation {
  bool refused = false;                 // the download counts as failed (result 0)
  std::optional<std::uint64_t> length;  // nullopt: read to the end, up to kMaxBodyBytes
};

// From the Content-Length header as text (nullopt: there is none). Decimal
// text-to-integer rules: leading digits, none give 0. Above kMaxBodyBytes is
// refused.
BodyExpectation ExpectBody(std::optional<std::u16string_view> content_length);

}  // namespace veltrona::config
