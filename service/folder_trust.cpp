#include "service/folder_trust.h"

#include "base/ascii.h"
#include "base/wide_text.h"

namespace veltrona::service {

namespace {

bool MayChange(Principal who) { return who != Principal::kOther; }

std::u16string_view WithoutLongPathPrefix(std::u16string_view path) {
  constexpr std::u16string_view kPrefix = u"\\\\?\\";
  if (path.substr(0, kPrefix.size()) == kPrefix) path.remove_prefix(kPrefix.size());
  return path;
}

}  // namespace

std::string WhyNotTrusted(const ObjectSecurity& security) {
  if (!MayChange(security.owner)) return "it is owned by another account";
  if (!security.has_access_list) return "it has no access list, so everyone may change it";
  for (const AccessEntry& entry : security.entries) {
    if (entry.allows && (entry.mask & kChangeRights) != 0 && !MayChange(entry.who)) {
      return "its access list lets other accounts change it";
    }
  }
  return {};
}

bool IsPathOf(std::u16string_view opened, std::u16string_view expected) {
  opened = WithoutLongPathPrefix(opened);
  expected = WithoutLongPathPrefix(expected);
  return !opened.empty() && EqualsIgnoringAsciiCase(opened, expected);
}

}  // namespace veltrona::service
