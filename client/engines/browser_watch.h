// What the browser-launch watch decides for each delivery of new processes:
// whether to look at all, and which process image counts as the user's
// default browser. The COM and registry side is browser_watch_win.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/engines/engine_state.h"

namespace veltrona::engines {

// The registry's default-browser text is read into a buffer of 520 bytes:
// at most this many characters and the terminator.
inline constexpr std::size_t kDefaultBrowserChars = 259;

// The warning is looked for only when this user has not turned it off, the
// installation has turned it on, and the tunnel is not up.
[[nodiscard]] bool ShouldLookForBrowser(std::uint32_t dont_warn_me, std::uint32_t warning_flag, EngineState state);

// The image name that the default-browser setting stands for: an empty
// setting is Internet Explorer, one that begins with "Google Chrome" is
// "chrome.exe", anything else is taken as the file name itself.
std::u16string DefaultBrowserImage(std::u16string_view setting);

// Whether a new process of this image name is the default browser; the
// letter case of either side does not matter.
[[nodiscard]] bool IsDefaultBrowser(std::u16string_view process_name, std::u16string_view setting);

}  // namespace veltrona::engines
