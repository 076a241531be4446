// Entry-name confinement: whatever name an archive carries, an accepted one
// must resolve, by the file system's own reading of the path, to something
// strictly inside the data folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "client/config/archive_names.h"
#include "client/xml/xml_encoding.h"

namespace {

using veltrona::config::ConfinedEntry;
using veltrona::config::ConfineArchiveEntry;
using veltrona::config::DecodeEntryName;

void Check(bool condition) {
  if (!condition) std::abort();
}

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Device names as Windows reads them, written out independently of the code
// under test: the part before the first dot, blanks dropped at its end.
bool LooksLikeDevice(std::u16string_view component) {
  std::u16string base;
  for (char16_t c : component.substr(0, component.find(u'.'))) base.push_back(Upper(c));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" || base == u"CONIN$" ||
      base == u"CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")) &&
         ((base[3] >= u'0' && base[3] <= u'9') || base[3] == 0xB9 || base[3] == 0xB2 || base[3] == 0xB3);
}

// Resolves "C:\data\" + relative the way path normalisation does: both
// slashes separate, ".." climbs, and trailing dots and blanks fall off a
// component ("." and "..." vanish). Returns the components below the drive.
std::vector<std::u16string> Resolve(std::u16string_view relative) {
  std::vector<std::u16string> parts = {u"data"};
  std::u16string raw;
  for (std::size_t i = 0; i <= relative.size(); ++i) {
    const char16_t c = i == relative.size() ? u'\\' : relative[i];
    if (c != u'\\' && c != u'/') {
      raw.push_back(c);
      continue;
    }
    if (raw == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      while (!raw.empty() && (raw.back() == u'.' || raw.back() == u' ')) raw.pop_back();
      if (!raw.empty()) parts.push_back(raw);
    }
    raw.clear();
  }
  return parts;
}

void CheckAccepted(const ConfinedEntry& entry) {
  const std::u16string& path = entry.relative_path;
  Check(!path.empty());
  Check(path.front() != u'\\' && path.back() != u'\\');
  Check(path.find(u'/') == std::u16string::npos);
  Check(path.find(u':') == std::u16string::npos);
  Check(path.find(u"\\\\") == std::u16string::npos);
  std::size_t start = 0;
  std::size_t depth = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    const std::u16string_view component = std::u16string_view(path).substr(start, end - start);
    Check(!component.empty());
    Check(component != u"." && component != u"..");
    Check(component.back() != u'.' && component.back() != u' ');
    Check(!LooksLikeDevice(component));
    for (char16_t c : component) Check(c >= 0x20 && c != u'*' && c != u'?' && c != u'"' && c != u'<' && c != u'>' && c != u'|');
    ++depth;
    start = end + 1;
  }
  // Inside the folder, and as deep as the entry says.
  const std::vector<std::u16string> resolved = Resolve(path);
  Check(resolved.size() == depth + 1);
  Check(!resolved.empty() && resolved.front() == u"data");
  // Stable: the path it gives is accepted as itself.
  const auto again = ConfineArchiveEntry(path, entry.is_folder);
  Check(again.has_value() && *again == entry);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view raw(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool directory = (mode & 2) != 0;
  std::u16string name;
  if (mode & 4) {
    // UTF-16 units straight in, to reach every character the file system sees.
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
      name.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(raw[i]) |
                                           static_cast<std::uint8_t>(raw[i + 1]) << 8));
    }
  } else {
    name = DecodeEntryName(raw, (mode & 1) != 0, &veltrona::xml::XmlDecodePortable);
  }
  const auto entry = ConfineArchiveEntry(name, directory);
  if (entry) CheckAccepted(*entry);
  return 0;
}
