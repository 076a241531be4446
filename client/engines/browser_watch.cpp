#include "client/engines/browser_watch.h"

#include "base/ascii.h"
#include "base/wide_text.h"

namespace veltrona::engines {

bool ShouldLookForBrowser(std::uint32_t dont_warn_me, std::uint32_t warning_flag, EngineState state) {
  return dont_warn_me == 0 && warning_flag != 0 && state != ENGINE_CONNECTED;
}

std::u16string DefaultBrowserImage(std::u16string_view setting) {
  if (setting.empty()) return u"IEXPLORE.EXE";
  // Chrome registers itself under its product name, not its file name.
  if (setting.starts_with(u"Google Chrome")) return u"chrome.exe";
  return std::u16string(setting);
}

bool IsDefaultBrowser(std::u16string_view process_name, std::u16string_view setting) {
  // A setting longer than the buffer it is read into names nothing.
  if (setting.size() > kDefaultBrowserChars) return false;
  return EqualsIgnoringAsciiCase<char16_t>(DefaultBrowserImage(setting), process_name);
}

}  // namespace veltrona::engines
