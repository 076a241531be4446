#include "client/config/http_request.h"

#include "client/config/body_text.h"

namespace veltrona::config {

bool IsRequestPathText(std::u16string_view path) {
  if (path.empty() || path.size() > kMaxTextChars) return false;
  for (char16_t c : path) {
    if (c <= u' ' || c >= 0x7F) return false;
  }
  return true;
}

std::u16string BuildObjectName(std::u16string_view path) {
  std::u16string name;
  if (path.empty() || path.front() != u'/') name.push_back(u'/');
  name.append(path);
  return name;
}

BodyExpectation ExpectBody(std::optional<std::u16string_view> content_length) {
  BodyExpectation expectation;
  if (!content_length) return expectation;
  std::uint64_t value = 0;
  std::size_t pos = 0;
  while (pos < content_length->size() && ((*content_length)[pos] == u' ' || (*content_length)[pos] == u'\t')) {
    ++pos;
  }
  for (; pos < content_length->size(); ++pos) {
    const char16_t c = (*content_length)[pos];
    if (c < u'0' || c > u'9') break;
    value = value * 10 + static_cast<std::uint64_t>(c - u'0');
    // Stop before the value can wrap; it is refused either way.
    if (value > kMaxBodyBytes) {
      expectation.refused = true;
      return expectation;
    }
  }
  expectation.length = value;
  return expectation;
}

}  // namespace veltrona::config
