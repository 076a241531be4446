// Feeds arbitrary rules documents to the cleaner's rules walk for each
// browser id, and checks what it decides: every target lies under one of the
// three folders and fits the path buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/privacy/history_rules.h"
#include "client/xml/xml_document.h"
#include "client/xml/xml_encoding.h"

namespace {

using veltrona::privacy::ProfileFolders;

const ProfileFolders kFolders{u"C:\\L", u"C:\\R", u"C:\\P"};

bool UnderAFolder(const std::u16string& path) {
  for (const std::u16string* folder : {&kFolders.local_app_data, &kFolders.app_data, &kFolders.user_profile}) {
    if (path.starts_with(*folder)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  veltrona::xml::XmlAppendUtf8(std::string_view(reinterpret_cast<const char*>(data), size), text);
  veltrona::xml::XmlDocument rules;
  // Any text, well-formed or not: the plan must stay confined either way.
  (void)rules.SetText(text);
  for (const std::u16string_view id : {u"google_chrome", u"firefox", u"opera", u"safari"}) {
    for (const veltrona::privacy::DeleteStep& step : veltrona::privacy::PlanClean(rules, id, kFolders)) {
      if (!UnderAFolder(step.path) || step.path.size() > veltrona::privacy::kMaxRuleChars) std::abort();
    }
  }
  (void)veltrona::privacy::ClassifyDefaultBrowser(text);
  return 0;
}
