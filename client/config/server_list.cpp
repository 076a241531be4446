#include "client/config/server_list.h"

#include <algorithm>
#include <set>

#include "base/ascii.h"
#include "client/config/body_text.h"

namespace veltrona::config {

bool HasServersElement(xml::XmlDocument& doc) {
  doc.ResetPosition();
  const bool found = doc.FindNextChild(u"servers");
  doc.ResetPosition();
  return found;
}

std::optional<DownloadedServerList> ReadDownloadedServerList(std::string_view body, xml::XmlCodePageDecoder decoder) {
  std::u16string text = DecodeAnsiBody(body, decoder);
  if (text.empty()) return std::nullopt;
  // The document takes the text over and hands it back for the cache, so
  // the decoded text exists once.
  xml::XmlDocument doc;
  if (!doc.SetText(std::move(text)) || !HasServersElement(doc)) return std::nullopt;
  // The entries come from the very document that accepted the download. Its
  // text has no zero unit in it (DecodeAnsiBody refuses those), so parsing
  // it again, as the cache's reader does, would build the same tree.
  std::vector<ServerEntry> entries = ReadServerEntries(doc);
  return DownloadedServerList{doc.TakeText(), std::move(entries)};
}

std::vector<ServerEntry> ReadServerEntries(xml::XmlDocument& doc) {
  using namespace std::string_view_literals;
  std::vector<ServerEntry> entries;
  doc.ResetPosition();
  if (!doc.FindNextChild(u"servers"sv) || !doc.EnterElement()) return entries;
  // Room for every child of `servers` at once: a long list then costs no
  // regrowth, and nearly every child is a host. Records are numbered in
  // document order and the first child holds the last one, so the children
  // lie between those two: counted without walking them.
  const std::uint32_t first = doc.Record(doc.Current()).firstChild;
  const std::uint32_t last = doc.Record(first).previous;
  if (first != 0 && last >= first) entries.reserve(last - first + 1);
  while (doc.FindNextChild(u"host"sv)) {
    ServerEntry& entry = entries.emplace_back();
    entry.hostname = doc.ChildAttribute(u"hostname"sv);
    entry.pixelguard = doc.ChildAttribute(u"pixelguard_enabled"sv) == u"True"sv;
    entry.is_default = doc.ChildAttribute(u"default"sv) == u"True"sv;
  }
  // Back out of `servers`; always possible right after entering it.
  (void)doc.LeaveElement();
  return entries;
}

std::optional<std::vector<ServerEntry>> ReadServerListText(std::u16string_view text) {
  xml::XmlDocument doc;
  if (!doc.SetText(WithoutTrailingNuls(text))) return std::nullopt;
  return ReadServerEntries(doc);
}

bool ServerNameLess(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t fa = ToAsciiLower(a[i]);
    const char16_t fb = ToAsciiLower(b[i]);
    if (fa != fb) return fa < fb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

ServerBoxPlan PlanServerBox(const std::vector<ServerEntry>& entries, bool pixelguard_on,
                            std::optional<std::size_t> previous_selection, const RandomSource& random) {
  ServerBoxPlan plan;
  std::optional<std::u16string> default_name;
  std::set<std::u16string_view> seen;  // a long hostile list must not cost quadratic time
  for (const ServerEntry& entry : entries) {
    if (entry.pixelguard != pixelguard_on) continue;
    if (entry.hostname.empty() || entry.hostname.size() > kMaxHostnameChars) continue;
    // The box selects the default as it is added; a later default wins.
    if (entry.is_default) default_name = entry.hostname;
    if (seen.insert(entry.hostname).second) plan.items.push_back(entry.hostname);
  }
  std::stable_sort(plan.items.begin(), plan.items.end(),
                   [](const std::u16string& a, const std::u16string& b) { return ServerNameLess(a, b); });

  if (previous_selection && *previous_selection < plan.items.size()) {
    plan.selection = {ServerSelection::Kind::kPosition, *previous_selection, {}};
  } else if (default_name) {
    plan.selection = {ServerSelection::Kind::kName, 0, *default_name};
  } else if (!plan.items.empty() && random) {
    plan.selection = {ServerSelection::Kind::kPosition, random() % plan.items.size(), {}};
  }
  return plan;
}

std::optional<std::size_t> SelectedIndex(const ServerBoxPlan& plan) {
  switch (plan.selection.kind) {
    case ServerSelection::Kind::kPosition:
      if (plan.selection.position < plan.items.size()) return plan.selection.position;
      return std::nullopt;
    case ServerSelection::Kind::kName: {
      const auto it = std::find(plan.items.begin(), plan.items.end(), plan.selection.name);
      if (it == plan.items.end()) return std::nullopt;
      return static_cast<std::size_t>(it - plan.items.begin());
    }
    case ServerSelection::Kind::kNone:
      break;
  }
  return std::nullopt;
}

void RebuildServerMap(ServerMap& map, const ServerBoxPlan& plan) {
  map.clear();
  for (const std::u16string& name : plan.items) map.emplace(name, std::u16string());
}

ServerListLoad DecideServerListLoad(std::string_view downloaded_body,
                                    const std::function<std::optional<std::u16string>()>& read_cache,
                                    bool pixelguard_on, std::optional<std::size_t> previous_selection,
                                    const RandomSource& random, xml::XmlCodePageDecoder decoder) {
  ServerListLoad load;
  std::optional<std::vector<ServerEntry>> entries;
  if (std::optional<DownloadedServerList> list = ReadDownloadedServerList(downloaded_body, decoder)) {
    entries = std::move(list->entries);
    load.text_to_cache = std::move(list->text);
  } else {
    load.show_connection_error = true;
    if (read_cache) {
      if (const auto cached = read_cache()) entries = ReadServerListText(*cached);
    }
  }
  if (!entries) {
    // Nothing readable: the box stays empty and nothing is selected.
    return load;
  }
  load.box = PlanServerBox(*entries, pixelguard_on, previous_selection, random);
  return load;
}

}  // namespace veltrona::config
