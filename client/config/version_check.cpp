#include "client/config/version_check.h"

#include "client/config/body_text.h"
#include "client/xml/xml_document.h"

namespace veltrona::config {

namespace {

constexpr int kPartCeiling = 999999999;

// Decimal value of the leading digits of `text`, from `pos`; moves `pos`
// past them.
int LeadingNumber(std::u16string_view text, std::size_t& pos) {
  std::int64_t value = 0;
  for (; pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9'; ++pos) {
    value = value * 10 + (text[pos] - u'0');
    if (value > kPartCeiling) value = kPartCeiling;
  }
  return static_cast<int>(value);
}

}  // namespace

int CompareVersion(std::u16string_view version) {
  std::size_t pos = 0;
  const int major = LeadingNumber(version, pos);
  int minor = 0;
  const std::size_t dot = version.find(u'.');
  if (dot != std::u16string_view::npos) {
    pos = dot + 1;
    minor = LeadingNumber(version, pos);
  }
  return major == kClientMajor ? minor - kClientMinor : major - kClientMajor;
}

UpdateCheck EvaluateUpdateResponse(std::uint32_t bytes_read, std::string_view body) {
  UpdateCheck check;
  if (bytes_read == 0) return check;
  check.status = UpdateStatus::kNoAnnouncement;
  xml::XmlDocument doc;
  if (!doc.SetText(DecodeUtf8Body(body)) || !doc.FindNextChild(u"application")) return check;
  check.version = CutToTextBuffer(doc.ChildAttribute(u"version"));
  check.url = CutToTextBuffer(doc.ChildAttribute(u"url"));
  check.status = CompareVersion(check.version) > 0 ? UpdateStatus::kNewer : UpdateStatus::kUpToDate;
  return check;
}

}  // namespace veltrona::config
