// The history cleaner's decisions, apart from the files themselves: which
// cleaner a default-browser value names, how a rule's path expands, and which
// targets a cleaner's rules delete, in which mode and in which order. The
// Windows side lists and deletes what this returns.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::xml {
class XmlDocument;
}  // namespace veltrona::xml

namespace veltrona::privacy {

// Rule values and expanded paths live in buffers of 260 wide characters;
// what does not fit with its terminator is refused.
inline constexpr std::size_t kMaxRuleChars = 259;

enum class DeleteMode { kFile = 0, kGlob = 1, kWalk = 2 };

// The three folders a rule path may start from, without trailing backslash.
struct ProfileFolders {
  std::u16string local_app_data;  // "$localappdata"
  std::u16string app_data;        // "$appdata" (roaming)
  std::u16string user_profile;    // "$userprofile"
};

struct DeleteStep {
  std::u16string path;
  DeleteMode mode = DeleteMode::kFile;
  bool operator==(const DeleteStep&) const = default;
};

enum class BrowserCleaning {
  kNothing,            // an unknown browser, or none: the clean counts as done
  kInternetExplorer,   // the browser's own clearing routine
  kRules,              // the rules file's cleaner named by `cleaner_id`
};

struct DefaultBrowser {
  BrowserCleaning cleaning = BrowserCleaning::kNothing;
  std::u16string_view cleaner_id;
};

// Maps the default value of HKCU "SOFTWARE\Clients\StartMenuInternet";
// compared exactly, case included.
DefaultBrowser ClassifyDefaultBrowser(std::u16string_view value);

// The path with its leading variable replaced by its folder. A path that does
// not start with one of the three variables is refused: it could name a
// relative path or the current drive. So is a result over kMaxRuleChars.
[[nodiscard]] std::optional<std::u16string> ExpandRulePath(std::u16string_view path, const ProfileFolders& folders);

// "file" 0, "glob" 1, "walk.files" and "walk.all" 2; anything else keeps
// `previous`.
DeleteMode ModeForSearch(std::u16string_view search, DeleteMode previous);

// The steps of the first cleaner whose id equals `cleaner_id`, in document
// order: options of the six categories only, actions whose command is
// exactly "delete", values that fit and paths that expand. A refused action
// leaves the mode fallback as it was. Moves the document's position.
std::vector<DeleteStep> PlanClean(xml::XmlDocument& rules, std::u16string_view cleaner_id,
                                  const ProfileFolders& folders);

// `folder` joined with `name` by one backslash; a folder that already ends
// in '\', '/' or ':' is not given another.
std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);

// The folder part of a full path (up to, not including, its last backslash).
std::u16string_view FolderOf(std::u16string_view full_path);

}  // namespace veltrona::privacy
