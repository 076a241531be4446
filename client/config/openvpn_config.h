// What writing "Veltrona.ovpn" involves, decided without touching the
// network or the disk: which archive and template to fetch and where they
// go (from the cached server list document), and the configuration text
// made from a downloaded template.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrona::config {

inline constexpr std::u16string_view kConfigFileName = u"Veltrona.ovpn";

inline constexpr std::string_view kAddressPlaceholder = "%ADDRESS%";
inline constexpr std::string_view kProxyPlaceholder = "%PROXY_IP%";

// Appended to every configuration, without a final line break.
inline constexpr std::string_view kRouteText =
    "\nroute-method exe\nroute-delay 30\nroute-metric 512\nroute 0.0.0.0 0.0.0.0";
static_assert(kRouteText.size() == 71);

enum class OvpnPlanStatus {
  kCacheUnusable,  // no cache or not well-formed: false, no message
  kNothingToDo,    // no `ovpn` element: true, nothing written
  kReady,          // go through the steps below
  kRefused,        // a path or name that cannot be used safely: false, `refusal` shown
};

struct OvpnPlan {
  OvpnPlanStatus status = OvpnPlanStatus::kCacheUnusable;
  // Key archive step; skipped when `keys_request` is empty.
  std::u16string keys_request;  // request path, the `file` value unchanged
  std::u16string archive_name;  // after the last "/" of `file`
  std::u16string archive_path;  // folder + "\" + archive_name
  // When the archive cannot be downloaded, the result is whether this file
  // exists. The archive is deleted after every unpacking, so only an earlier
  // configuration, with its keys unpacked beside it, is worth going on with.
  std::u16string keys_fallback_path;
  // Template step; skipped when `template_request` is empty.
  std::u16string template_request;
  std::u16string config_path;   // folder + "\Veltrona.ovpn"
  // kRefused: what the user is told, naming the file that cannot be used.
  std::u16string refusal;
};

// Reads `ovpn`, `keys` and `template` from the cached document and checks
// every path against the 260-unit buffers. A `file` that is empty (or an
// element that is missing) skips its step. Refused: a `file` too long or
// holding characters a request line cannot carry, an archive name that is
// not one plain file name (so "..\x.dll" or "keys.zip?v=2" never reach the
// disk), and a folder too long for the paths built on it.
OvpnPlan PlanOpenVpnConfig(std::u16string_view cached_text, std::u16string_view data_folder);

// The archive name: what follows the last "/" of `file` (all of it without
// one). Not checked here.
std::u16string_view ArchiveNameOf(std::u16string_view file);

// folder + "\" + name, or nullopt when that does not fit a 260-unit buffer.
[[nodiscard]] std::optional<std::u16string> JoinDataPath(std::u16string_view folder, std::u16string_view name);

// True for an address or proxy text that may go into the configuration:
// letters, digits and ". - _ : [ ]" only. Anything else could end an
// OpenVPN line and add directives of its own, and has no single-byte form
// in every ANSI code page.
[[nodiscard]] bool IsConfigAddressText(std::u16string_view text);

// The configuration from a downloaded template: zero padding dropped, the
// first "%ADDRESS%" replaced by `address`, then the first "%PROXY_IP%" by
// `proxy` (an empty proxy removes the placeholder), and the route text
// appended. nullopt when the address is empty or either text is refused by
// IsConfigAddressText.
// What the user is told when FillTemplate refuses the texts.
std::u16string TemplateRefusal(std::u16string_view address, std::u16string_view proxy);

[[nodiscard]] std::optional<std::string> FillTemplate(std::string_view body, std::u16string_view address,
                                                      std::u16string_view proxy);

}  // namespace veltrona::config
