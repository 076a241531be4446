// The server list document: whether a download may replace the cache, the
// servers it lists, and what the main window's server box and the
// controller's ServerMap become. The Windows side downloads, shows the
// message, reads and writes the cache, and fills the real box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/xml/xml_document.h"
#include "client/xml/xml_encoding.h"

namespace veltrona::config {

// Requested from the configuration host with the client's version.
inline constexpr std::u16string_view kServerListPath = u"/servers.win.xml?v=3.2";

inline constexpr std::u16string_view kConnectionErrorMessage = u"A connection error occurred. Try again later.";

// Host name -> Pixelguard proxy address, ordered by code units.
using ServerMap = std::map<std::u16string, std::u16string>;

struct ServerEntry {
  std::u16string hostname;
  bool pixelguard = false;  // `pixelguard_enabled` is exactly "True"
  bool is_default = false;  // `default` is exactly "True"

  bool operator==(const ServerEntry&) const = default;
};

// True when the root of `doc` has a `servers` child. A well-formed page that
// is not a server list (an error page from a proxy or a captive portal) must
// not replace a good cache. Leaves `doc` at the top.
[[nodiscard]] bool HasServersElement(xml::XmlDocument& doc);

// The `host` children of the root's first `servers` child, in document
// order. Reads from the top, whatever the position of `doc`.
std::vector<ServerEntry> ReadServerEntries(xml::XmlDocument& doc);

// A download that may be cached and shown: its text, and the entries read
// from the one parse that accepted it.
struct DownloadedServerList {
  std::u16string text;
  std::vector<ServerEntry> entries;
};
// The downloaded body decoded as ANSI text, when it may be cached and shown,
// with its entries; nullopt when it may not (empty, not text, not
// well-formed, not a server list), in which case the user is told and the
// cache is used.
[[nodiscard]] std::optional<DownloadedServerList> ReadDownloadedServerList(std::string_view body,
                                                                           xml::XmlCodePageDecoder decoder);

// The entries of `text` (a cached copy, terminator or not); nullopt when it
// is not well-formed.
std::optional<std::vector<ServerEntry>> ReadServerListText(std::u16string_view text);

// Box order: ASCII letters without regard to case, then code units. Host
// names are ASCII; the Windows side places items by what the real sorted
// box does and selects by the rule below, not by this order.
[[nodiscard]] bool ServerNameLess(std::u16string_view a, std::u16string_view b);

// What the box is to select once filled.
struct ServerSelection {
  enum class Kind { kNone, kPosition, kName };
  Kind kind = Kind::kNone;
  std::size_t position = 0;  // kPosition: index in the box's own order
  std::u16string name;       // kName: the entry with this text

  bool operator==(const ServerSelection&) const = default;
};

struct ServerBoxPlan {
  std::vector<std::u16string> items;  // distinct names, in box order
  ServerSelection selection;
};

// Names longer than this do not fit the box's text buffer.
inline constexpr std::size_t kMaxHostnameChars = 259;

// Returns a number from the seeded pseudo-random generator.
using RandomSource = std::function<std::uint32_t()>;

// The box after a load. Servers are kept when their Pixelguard flag matches
// the check box; empty or over-long names, and repeats of a name, are
// dropped. Selection: the earlier position when the new list has it, else
// the last default in document order, else a random entry (`random` is
// called only then), else none.
ServerBoxPlan PlanServerBox(const std::vector<ServerEntry>& entries, bool pixelguard_on,
                            std::optional<std::size_t> previous_selection, const RandomSource& random);

// The index in `plan.items` that the selection names, if any.
[[nodiscard]] std::optional<std::size_t> SelectedIndex(const ServerBoxPlan& plan);

// Empties the map and adds every listed server with an empty proxy address.
void RebuildServerMap(ServerMap& map, const ServerBoxPlan& plan);

// The whole load after the download.
struct ServerListLoad {
  bool show_connection_error = false;
  std::optional<std::u16string> text_to_cache;  // write to the cache when set
  ServerBoxPlan box;
};

// `read_cache` is called only when the download is unusable; it returns the
// cached text or nullopt when there is none.
ServerListLoad DecideServerListLoad(std::string_view downloaded_body,
                                    const std::function<std::optional<std::u16string>()>& read_cache,
                                    bool pixelguard_on, std::optional<std::size_t> previous_selection,
                                    const RandomSource& random, xml::XmlCodePageDecoder decoder);

}  // namespace veltrona::config
