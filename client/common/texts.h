// Texts the whole client shows in more than one place.
#pragma once

#include <string_view>

namespace veltrona::common {

// The caption of the client's message boxes and the start of its window title.
inline constexpr std::u16string_view kProductName = u"Veltrona VPN Free Trial";
inline constexpr std::u16string_view kMessageCaption = kProductName;
// The client's own version, shown in the title and sent with the server list request.
inline constexpr std::u16string_view kClientVersion = u"3.2";

}  // namespace veltrona::common
