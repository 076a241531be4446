#include "client/config/archive_names.h"

#include <array>

#include "base/ascii.h"

namespace veltrona::config {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) { return EqualsIgnoringAsciiCase(a, b); }

// Windows opens a device for these names whatever extension follows, and
// ignores blanks before the extension.
bool IsDeviceName(std::u16string_view name) {
  std::u16string_view base = name.substr(0, name.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  static constexpr std::array<std::u16string_view, 6> kPlain = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$",
                                                                 u"CONOUT$"};
  for (std::u16string_view device : kPlain) {
    if (SameIgnoringCase(base, device)) return true;
  }
  if (base.size() == 4) {
    const std::u16string_view stem = base.substr(0, 3);
    const char16_t digit = base[3];
    // COM1-9 and LPT1-9, and the superscript digits newer Windows also maps.
    const bool numbered = (digit >= u'0' && digit <= u'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
    if (numbered && (SameIgnoringCase(stem, u"COM") || SameIgnoringCase(stem, u"LPT"))) return true;
  }
  return false;
}

}  // namespace

std::u16string DecodeEntryName(std::string_view raw_name, bool utf8_flag, xml::XmlCodePageDecoder decoder) {
  if (raw_name.find('\0') != std::string_view::npos) return {};
  std::u16string name;
  if (utf8_flag) {
    if (!xml::XmlIsValidUtf8(raw_name)) return {};
    xml::XmlAppendUtf8(raw_name, name);
  } else if (decoder == nullptr || !decoder(xml::XML_CP_ANSI, raw_name, name)) {
    return {};
  }
  if (name.find(kReplacement) != std::u16string::npos || name.find(u'\0') != std::u16string::npos) return {};
  return name;
}

bool IsPlainFileName(std::u16string_view name) {
  if (name.empty() || name.back() == u'.' || name.back() == u' ') return false;  // also "." and ".."
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    switch (c) {
      case u'\\': case u'/': case u':': case u'*': case u'?': case u'"': case u'<': case u'>': case u'|':
        return false;
      default:
        break;
    }
  }
  return !IsDeviceName(name);
}

std::optional<ConfinedEntry> ConfineArchiveEntry(std::u16string_view name, bool directory_attribute) {
  if (name.empty()) return std::nullopt;
  auto is_separator = [](char16_t c) { return c == u'/' || c == u'\\'; };
  if (is_separator(name.front())) return std::nullopt;
  ConfinedEntry entry;
  entry.is_folder = directory_attribute || is_separator(name.back());
  if (is_separator(name.back())) name.remove_suffix(1);
  while (true) {
    std::size_t end = 0;
    while (end < name.size() && !is_separator(name[end])) ++end;
    const std::u16string_view component = name.substr(0, end);
    if (!IsPlainFileName(component)) return std::nullopt;
    if (!entry.relative_path.empty()) entry.relative_path += u'\\';
    entry.relative_path.append(component);
    if (end == name.size()) break;
    name.remove_prefix(end + 1);
  }
  return entry;
}

bool ExtractionBudget::AdmitEntry() {
  if (entries_ >= limits_.max_entries) return false;
  ++entries_;
  return true;
}

bool ExtractionBudget::AdmitFile(std::uint64_t uncompressed_size) {
  if (uncompressed_size > limits_.max_entry_bytes) return false;
  if (uncompressed_size > limits_.max_total_bytes - total_bytes_) return false;
  total_bytes_ += uncompressed_size;
  return true;
}

}  // namespace veltrona::config
