#include "client/config/body_text.h"

namespace veltrona::config {

std::string_view WithoutZeroPadding(std::string_view body) {
  const std::size_t end = body.find_last_not_of('\0');
  return end == std::string_view::npos ? std::string_view() : body.substr(0, end + 1);
}

std::u16string_view WithoutTrailingNuls(std::u16string_view text) {
  const std::size_t end = text.find_last_not_of(u'\0');
  return end == std::u16string_view::npos ? std::u16string_view() : text.substr(0, end + 1);
}

std::u16string DecodeAnsiBody(std::string_view body, xml::XmlCodePageDecoder decoder) {
  body = WithoutZeroPadding(body);
  if (body.empty() || body.find('\0') != std::string_view::npos || decoder == nullptr) return {};
  std::u16string text;
  if (!decoder(xml::XML_CP_ANSI, body, text)) return {};
  // Cut in place: a server list is megabytes, and a copy would hold it twice.
  text.resize(WithoutTrailingNuls(text).size());
  return text;
}

std::u16string DecodeUtf8Body(std::string_view body) {
  body = WithoutZeroPadding(body);
  if (body.empty() || body.find('\0') != std::string_view::npos) return {};
  std::u16string text;
  xml::XmlAppendUtf8(body, text);
  return text;
}

std::u16string CutToTextBuffer(std::u16string_view text) {
  if (text.size() <= kMaxTextChars) return std::u16string(text);
  std::size_t length = kMaxTextChars;
  // A high surrogate at the cut would be left without its partner.
  if (text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) --length;
  return std::u16string(text.substr(0, length));
}

}  // namespace veltrona::config
