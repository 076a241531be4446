#include "client/privacy/history_rules.h"

#include <array>

#include "client/xml/xml_document.h"

namespace veltrona::privacy {
namespace {

constexpr std::array<std::u16string_view, 6> kCategories = {
    u"cookies", u"history", u"temporary_files", u"download_history", u"cache", u"session"};

bool IsCategory(std::u16string_view id) {
  for (const std::u16string_view category : kCategories) {
    if (id == category) return true;
  }
  return false;
}

bool Fits(const std::u16string& value) { return value.size() <= kMaxRuleChars; }

}  // namespace

DefaultBrowser ClassifyDefaultBrowser(std::u16string_view value) {
  if (value == u"IEXPLORE.EXE") return {BrowserCleaning::kInternetExplorer, {}};
  if (value == u"Google Chrome" || value == u"chrome.exe") return {BrowserCleaning::kRules, u"google_chrome"};
  if (value == u"opera.EXE") return {BrowserCleaning::kRules, u"opera"};
  if (value == u"safari.exe") return {BrowserCleaning::kRules, u"safari"};
  if (value == u"FIREFOX.EXE") return {BrowserCleaning::kRules, u"firefox"};
  return {};
}

std::optional<std::u16string> ExpandRulePath(std::u16string_view path, const ProfileFolders& folders) {
  struct Variable {
    std::u16string_view name;
    const std::u16string* folder;
  };
  // The order matters only for a variable inside another's text; a variable
  // is honoured at the very start alone.
  const std::array<Variable, 3> variables = {{{u"$localappdata", &folders.local_app_data},
                                               {u"$appdata", &folders.app_data},
                                               {u"$userprofile", &folders.user_profile}}};
  for (const Variable& variable : variables) {
    if (!path.starts_with(variable.name)) continue;
    // A folder that could not be found must not turn the rest into a path
    // from the current drive's root.
    if (variable.folder->empty()) return std::nullopt;
    std::u16string expanded = *variable.folder;
    expanded.append(path.substr(variable.name.size()));
    if (!Fits(expanded)) return std::nullopt;
    return expanded;
  }
  return std::nullopt;
}

DeleteMode ModeForSearch(std::u16string_view search, DeleteMode previous) {
  if (search == u"file") return DeleteMode::kFile;
  if (search == u"glob") return DeleteMode::kGlob;
  if (search == u"walk.files" || search == u"walk.all") return DeleteMode::kWalk;
  return previous;
}

std::vector<DeleteStep> PlanClean(xml::XmlDocument& rules, std::u16string_view cleaner_id,
                                  const ProfileFolders& folders) {
  std::vector<DeleteStep> steps;
  rules.ResetPosition();
  // Entering the element just found cannot fail.
  if (rules.FindNextElement(u"surfing_preference")) (void)rules.EnterElement();
  bool found = false;
  while (rules.FindNextElement(u"cleaner")) {
    if (rules.ElementAttribute(u"id") == cleaner_id) {
      found = true;
      break;
    }
  }
  if (!found) return steps;
  (void)rules.EnterElement();  // the cleaner just found
  DeleteMode mode = DeleteMode::kFile;
  while (rules.FindNextElement(u"option")) {
    if (!IsCategory(rules.ElementAttribute(u"id"))) continue;
    while (rules.FindNextChild(u"action")) {
      const std::u16string command = rules.ChildAttribute(u"command");
      const std::u16string search = rules.ChildAttribute(u"search");
      const std::u16string path = rules.ChildAttribute(u"path");
      if (command != u"delete") continue;
      if (!Fits(search) || !Fits(path)) continue;
      std::optional<std::u16string> expanded = ExpandRulePath(path, folders);
      if (!expanded) continue;
      mode = ModeForSearch(search, mode);
      steps.push_back({std::move(*expanded), mode});
    }
  }
  return steps;
}

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string joined(folder);
  if (joined.empty() || (joined.back() != u'\\' && joined.back() != u'/' && joined.back() != u':')) {
    joined += u'\\';
  }
  joined.append(name);
  return joined;
}

std::u16string_view FolderOf(std::u16string_view full_path) {
  const std::size_t slash = full_path.rfind(u'\\');
  if (slash == std::u16string_view::npos) return {};
  return full_path.substr(0, slash);
}

}  // namespace veltrona::privacy
