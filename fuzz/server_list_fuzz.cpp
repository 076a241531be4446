// The server list document from the network: whatever the body, the load
// decision, the box plan, the configuration plan and the update check stay
// consistent and within their buffers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/config/openvpn_config.h"
#include "client/config/server_list.h"
#include "client/config/version_check.h"
#include "client/xml/xml_document.h"
#include "client/xml/xml_encoding.h"

namespace {

using namespace veltrona::config;

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckBox(const ServerBoxPlan& box) {
  for (std::size_t i = 0; i < box.items.size(); ++i) {
    Check(!box.items[i].empty() && box.items[i].size() <= kMaxHostnameChars);
    if (i > 0) Check(!ServerNameLess(box.items[i], box.items[i - 1]));
    Check(std::count(box.items.begin(), box.items.end(), box.items[i]) == 1);
  }
  const auto index = SelectedIndex(box);
  if (box.selection.kind != ServerSelection::Kind::kNone) Check(index.has_value());
  if (index) Check(*index < box.items.size());
  if (box.items.empty()) Check(box.selection.kind == ServerSelection::Kind::kNone);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool pixelguard = (mode & 1) != 0;
  const std::optional<std::size_t> previous =
      (mode & 2) ? std::optional<std::size_t>(mode >> 4) : std::nullopt;
  std::uint32_t seed = mode;
  const RandomSource random = [&]() { return seed = seed * 1103515245u + 12345u; };

  // The body both as a download and, read as UTF-8, as the cached copy.
  std::u16string cache;
  veltrona::xml::XmlAppendUtf8(body, cache);
  const ServerListLoad load =
      DecideServerListLoad(body, [&]() { return std::optional<std::u16string>(cache); }, pixelguard, previous,
                           random, &veltrona::xml::XmlDecodePortable);
  CheckBox(load.box);
  if (load.text_to_cache) {
    Check(!load.show_connection_error);
    veltrona::xml::XmlDocument doc;
    Check(doc.SetText(*load.text_to_cache));
    Check(HasServersElement(doc));
    Check(load.text_to_cache->find(u'\0') == std::u16string::npos);
  } else {
    Check(load.show_connection_error);
  }
  ServerMap map = {{u"stale", u"x"}};
  RebuildServerMap(map, load.box);
  Check(map.size() == load.box.items.size());

  const std::u16string folder = u"C:\\Users\\u\\AppData\\Local\\Veltrona VPN";
  const OvpnPlan plan = PlanOpenVpnConfig(cache, folder);
  if (plan.status == OvpnPlanStatus::kReady) {
    Check(plan.config_path.size() <= 259 && plan.archive_path.size() <= 259);
    Check(plan.keys_request.size() <= 259 && plan.template_request.size() <= 259);
    Check(plan.keys_request.empty() || plan.archive_path == folder + u"\\" + plan.archive_name);
    for (const std::u16string& server : load.box.items) {
      const auto text = FillTemplate(body, server, u"");
      if (text) Check(text->ends_with(kRouteText));
    }
  }

  const UpdateCheck update = EvaluateUpdateResponse(static_cast<std::uint32_t>(body.size()), body);
  Check(update.version.size() <= 259 && update.url.size() <= 259);
  Check(update.IsNewer() == (update.status == UpdateStatus::kNewer));
  (void)CompareVersion(cache);
  return 0;
}
