#include "client/config/openvpn_config.h"

#include "client/config/archive_names.h"
#include "client/config/body_text.h"
#include "client/config/http_request.h"
#include "base/ascii.h"
#include "base/wide_text.h"
#include "client/xml/xml_document.h"

namespace veltrona::config {

namespace {

std::string Narrow(std::u16string_view ascii) {
  std::string out;
  out.reserve(ascii.size());
  for (char16_t c : ascii) out.push_back(static_cast<char>(c));
  return out;
}

void ReplaceFirst(std::string& text, std::string_view placeholder, std::string_view value) {
  const std::size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), value);
}

OvpnPlan Refused(std::u16string_view what, std::u16string_view name) {
  OvpnPlan plan;
  plan.status = OvpnPlanStatus::kRefused;
  plan.refusal = std::u16string(what) + std::u16string(name);
  return plan;
}

constexpr std::u16string_view kCantCreate = u"Can't create file ";
constexpr std::u16string_view kCantDownload = u"Can't download file ";
constexpr std::u16string_view kCantSave = u"Can't save file ";

}  // namespace

std::u16string_view ArchiveNameOf(std::u16string_view file) {
  const std::size_t slash = file.rfind(u'/');
  return slash == std::u16string_view::npos ? file : file.substr(slash + 1);
}

std::optional<std::u16string> JoinDataPath(std::u16string_view folder, std::u16string_view name) {
  if (folder.size() + 1 + name.size() > kMaxTextChars) return std::nullopt;
  std::u16string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder).append(u"\\").append(name);
  return path;
}

OvpnPlan PlanOpenVpnConfig(std::u16string_view cached_text, std::u16string_view data_folder) {
  OvpnPlan plan;
  xml::XmlDocument doc;
  if (!doc.SetText(WithoutTrailingNuls(cached_text))) return plan;
  plan.status = OvpnPlanStatus::kNothingToDo;
  if (!doc.FindNextChild(u"ovpn") || !doc.EnterElement()) return plan;

  plan.status = OvpnPlanStatus::kReady;
  auto config_path = JoinDataPath(data_folder, kConfigFileName);
  if (!config_path) return Refused(kCantCreate, std::u16string(data_folder) + u"\\" + std::u16string(kConfigFileName));
  plan.config_path = std::move(*config_path);

  if (doc.FindNextChild(u"keys")) {
    std::u16string file = doc.ChildAttribute(u"file");
    if (!file.empty()) {
      if (!IsRequestPathText(file)) return Refused(kCantDownload, file);
      const std::u16string_view name = ArchiveNameOf(file);
      auto archive_path = JoinDataPath(data_folder, name);
      // The archive is deleted after unpacking, so it must not be able to
      // stand for the configuration file either.
      if (!IsPlainFileName(name) || !archive_path || EqualsIgnoringAsciiCase(name, kConfigFileName)) {
        return Refused(kCantSave, name);
      }
      plan.archive_name = std::u16string(name);
      plan.archive_path = std::move(*archive_path);
      plan.keys_fallback_path = plan.config_path;
      plan.keys_request = std::move(file);
    }
  }
  // Searches on after `keys` when it was found, from the first child if not.
  if (doc.FindNextChild(u"template")) {
    std::u16string file = doc.ChildAttribute(u"file");
    if (!file.empty()) {
      if (!IsRequestPathText(file)) return Refused(kCantDownload, file);
      plan.template_request = std::move(file);
    }
  }
  return plan;
}

bool IsConfigAddressText(std::u16string_view text) {
  if (text.size() > kMaxTextChars) return false;
  for (char16_t c : text) {
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    const bool digit = c >= u'0' && c <= u'9';
    if (!letter && !digit && c != u'.' && c != u'-' && c != u'_' && c != u':' && c != u'[' && c != u']') {
      return false;
    }
  }
  return true;
}

std::u16string TemplateRefusal(std::u16string_view address, std::u16string_view proxy) {
  if (address.empty() || !IsConfigAddressText(address)) {
    return u"Can't use server address " + std::u16string(address);
  }
  return u"Can't use proxy address " + std::u16string(proxy);
}

std::optional<std::string> FillTemplate(std::string_view body, std::u16string_view address,
                                        std::u16string_view proxy) {
  if (address.empty() || !IsConfigAddressText(address) || !IsConfigAddressText(proxy)) return std::nullopt;
  std::string text(WithoutZeroPadding(body));
  ReplaceFirst(text, kAddressPlaceholder, Narrow(address));
  ReplaceFirst(text, kProxyPlaceholder, Narrow(proxy));
  text.append(kRouteText);
  return text;
}

}  // namespace veltrona::config
