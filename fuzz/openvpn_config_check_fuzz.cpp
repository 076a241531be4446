// Feeds arbitrary bytes to the configuration check as the text of the
// configuration. Whatever it accepts must be safe to write and run as is:
// checking the rewritten text again accepts it unchanged with the same files.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "service/openvpn_config_check.h"

namespace {

constexpr char16_t kFolder[] = u"C:\\Users\\fuzz\\AppData\\Local\\Veltrona VPN";

void Require(bool condition) {
  if (!condition) std::abort();
}

bool SameFiles(const veltrona::service::ConfigCheckResult& a, const veltrona::service::ConfigCheckResult& b) {
  if (a.files.size() != b.files.size()) return false;
  for (std::size_t i = 0; i < a.files.size(); ++i) {
    if (a.files[i].directive != b.files[i].directive || a.files[i].relative_path != b.files[i].relative_path) {
      return false;
    }
  }
  return true;
}

// Relative, no drive or stream, and no component that leaves the folder or
// that Windows would read differently.
bool ConfinedPath(std::u16string_view path) {
  if (path.empty() || path.find(u':') != std::u16string_view::npos || path.find(u'/') != std::u16string_view::npos) {
    return false;
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find(u'\\', start);
    const std::u16string_view component = path.substr(start, end == std::u16string_view::npos ? end : end - start);
    if (component.empty() || component == u"." || component == u".." || component.back() == u'.' ||
        component.back() == u' ') {
      return false;
    }
    if (end == std::u16string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const veltrona::service::ConfigCheckResult first = veltrona::service::CheckOpenVpnConfig(text, kFolder);
  if (!first.accepted) {
    Require(!first.reason.empty() && first.text.empty() && first.files.empty());
    return 0;
  }
  Require(first.reason.empty() && first.refused_directive.empty());
  // Every line fits OpenVPN's buffer and nothing could end a read early.
  std::size_t line_length = 0;
  for (char c : first.text) {
    Require(c != '\0' && c != '\r' && c != '\x1A');
    line_length = c == '\n' ? 0 : line_length + 1;
    Require(line_length + 1 <= veltrona::service::kMaxConfigLineBytes);
  }
  Require(first.text.empty() || first.text.back() == '\n');
  for (const auto& file : first.files) {
    Require(ConfinedPath(file.relative_path));
  }

  const veltrona::service::ConfigCheckResult second = veltrona::service::CheckOpenVpnConfig(first.text, kFolder);
  Require(second.accepted);
  Require(second.text == first.text);
  Require(SameFiles(first, second));
  return 0;
}
