// The body of the problem report: multipart/form-data with a fixed boundary.
#pragma once

#include <string>
#include <string_view>

namespace veltrona::config {

// 27 hyphens and "7d434218508bc".
inline constexpr std::string_view kMultipartBoundary = "---------------------------7d434218508bc";
static_assert(kMultipartBoundary.size() == 40);

// The POST's extra headers, boundary included.
std::string MultipartHeaders();

// "--" and the boundary: the body before the first field.
std::string StartMultipartBody();

// Appends one field: CRLF, its Content-Disposition line naming it, an empty
// line, the value, CRLF, "--" and the boundary. Name and value go in as they
// are. Returns `body`.
std::string& AppendFormField(std::string& body, std::string_view name, std::string_view value);

// Turns the last boundary line into the closing delimiter.
std::string& FinishMultipartBody(std::string& body);

// False when the field would break the body's framing: a name holding a
// quote, CR or LF, or a value holding the delimiter line ("\r\n--" and the
// boundary). The report code cuts or drops such a value before adding it.
[[nodiscard]] bool FormFieldKeepsFraming(std::string_view name, std::string_view value);

}  // namespace veltrona::config
