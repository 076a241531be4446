#include "service/data_folder.h"

#include "base/ascii.h"
#include "base/wide_text.h"
#include "ipc/protocol.h"

namespace veltrona::service {

namespace {

std::u16string_view WithoutTrailingBackslash(std::u16string_view text) {
  if (!text.empty() && text.back() == u'\\') text.remove_suffix(1);
  return text;
}

}  // namespace

std::string CheckDataFolderText(std::u16string_view folder) {
  folder = WithoutTrailingBackslash(folder);
  if (folder.empty()) return "the folder is empty";
  if (folder.size() > ipc::kMaxDataFolderChars) return "the folder is too long";
  if (folder.size() < 4 || !IsAsciiLetter(folder[0]) || folder[1] != u':' || folder[2] != u'\\') {
    return "the folder is not an absolute local path";
  }
  for (char16_t c : folder) {
    if (c < 0x20 || c == u'/' || c == u'"' || c == u'<' || c == u'>' || c == u'|' || c == u'?' || c == u'*') {
      return "the folder holds a character that is not allowed";
    }
  }
  if (folder.substr(2).find(u':') != std::u16string_view::npos) return "the folder names a stream";
  std::u16string_view rest = folder.substr(3);
  while (!rest.empty()) {
    const size_t end = rest.find(u'\\');
    const std::u16string_view component = rest.substr(0, end);
    if (component.empty()) return "the folder has an empty component";
    if (component == u"." || component == u"..") return "the folder has a relative component";
    // Windows drops trailing dots and blanks, so such a name is not what it
    // seems.
    if (component.back() == u'.' || component.back() == u' ') return "the folder has a component ending in a dot or blank";
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
  }
  return {};
}

DataFolderPaths DerivePaths(std::u16string_view folder) {
  DataFolderPaths paths;
  paths.folder = std::u16string(WithoutTrailingBackslash(folder));
  paths.output_path = paths.folder + u"\\log.txt";
  paths.config_path = paths.folder + u"\\Veltrona.ovpn";
  return paths;
}

bool SameFolderText(std::u16string_view a, std::u16string_view b) {
  return EqualsIgnoringAsciiCase(WithoutTrailingBackslash(a), WithoutTrailingBackslash(b));
}

}  // namespace veltrona::service
