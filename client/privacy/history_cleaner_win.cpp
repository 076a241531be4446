#include "client/privacy/history_cleaner_win.h"

#include <shlobj.h>

#include <optional>
#include <utility>
#include <vector>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/common/texts.h"
#include "client/common/user_messages_win.h"
#include "client/config/settings_store_win.h"

namespace veltrona::privacy {
namespace {

constexpr DWORD kPathChars = MAX_PATH;

enum class Outcome { kDone, kBusy };

// Only a file the browser holds counts against the clean; any other failure
// (gone already, bad name) is passed over.
bool IsBusy(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED; }

Outcome DeleteOne(const std::wstring& path) {
  if (path.size() > kMaxRuleChars) return Outcome::kDone;
  if (::DeleteFileW(path.c_str())) return Outcome::kDone;
  return IsBusy(::GetLastError()) ? Outcome::kBusy : Outcome::kDone;
}

bool IsFolder(const WIN32_FIND_DATAW& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

bool IsDotEntry(const WIN32_FIND_DATAW& entry) {
  const std::wstring_view name = entry.cFileName;
  return name == L"." || name == L"..";
}

std::wstring Join(std::wstring_view folder, std::wstring_view name) {
  return ToWide(JoinPath(ToU16(folder), ToU16(name)));
}

int DeleteSingleFile(const std::wstring& path) { return DeleteOne(path) == Outcome::kBusy ? 0 : 1; }

int DeleteGlob(const std::wstring& pattern) {
  WIN32_FIND_DATAW entry{};
  UniqueFindHandle listing(::FindFirstFileW(pattern.c_str(), &entry));
  if (!listing.IsValid()) return 1;
  wchar_t full[kPathChars] = {};
  const DWORD length = ::GetFullPathNameW(pattern.c_str(), kPathChars, full, nullptr);
  // A pattern whose full path does not fit names nothing this cleaner may touch.
  if (length == 0 || length >= kPathChars) return 1;
  const std::wstring folder = ToWide(FolderOf(ToU16(std::wstring_view(full, length))));
  if (folder.empty()) return 1;
  do {
    if (IsFolder(entry)) continue;
    const std::wstring target = Join(folder, entry.cFileName);
    if (target.size() > kMaxRuleChars) return 1;
    if (!::DeleteFileW(target.c_str())) return IsBusy(::GetLastError()) ? 0 : 1;
  } while (::FindNextFileW(listing.Get(), &entry));
  return 1;
}

// One level of the walk: a folder and where its listing of sub-folders stands.
struct OpenListing {
  std::wstring folder;
  UniqueFindHandle handle;
  WIN32_FIND_DATAW entry{};
  bool entry_pending = true;  // the entry from FindFirstFileExW is not taken yet
};

// How a step of the walk ended.
enum class Step { kGoOn, kLeave, kStop };

struct WalkResult {
  Step step = Step::kGoOn;
  int result = 1;  // the walk's result when it stops
};

WalkResult StopBy(DWORD error) { return {Step::kStop, IsBusy(error) ? 0 : 1}; }

// Deletes the files (not the folders) directly in `folder`.
WalkResult DeleteFilesIn(const std::wstring& folder) {
  const std::wstring pattern = Join(folder, L"*");
  if (pattern.size() > kMaxRuleChars) return {Step::kLeave};
  WIN32_FIND_DATAW entry{};
  UniqueFindHandle listing(::FindFirstFileW(pattern.c_str(), &entry));
  if (!listing.IsValid()) {
    // An empty folder still has sub-folders to visit; a missing one has none.
    return {::GetLastError() == ERROR_FILE_NOT_FOUND ? Step::kGoOn : Step::kLeave};
  }
  do {
    if (IsFolder(entry)) continue;
    const std::wstring target = Join(folder, entry.cFileName);
    if (target.size() > kMaxRuleChars) return {Step::kStop, 1};
    if (!::DeleteFileW(target.c_str())) return StopBy(::GetLastError());
  } while (::FindNextFileW(listing.Get(), &entry));
  const DWORD error = ::GetLastError();
  if (error != ERROR_NO_MORE_FILES) return StopBy(error);
  return {};
}

std::optional<OpenListing> ListSubfolders(const std::wstring& folder) {
  const std::wstring pattern = Join(folder, L"*");
  if (pattern.size() > kMaxRuleChars) return std::nullopt;
  OpenListing listing;
  listing.folder = folder;
  listing.handle.Reset(::FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &listing.entry,
                                          FindExSearchLimitToDirectories, nullptr, 0));
  if (!listing.handle.IsValid()) return std::nullopt;
  return listing;
}

// The next sub-folder worth entering, or nothing at the end of the listing.
// `error` is set when the listing ended by anything but its end.
std::optional<std::wstring> NextSubfolder(OpenListing& listing, DWORD& error) {
  error = ERROR_NO_MORE_FILES;
  for (;;) {
    if (!listing.entry_pending) {
      if (!::FindNextFileW(listing.handle.Get(), &listing.entry)) {
        error = ::GetLastError();
        return std::nullopt;
      }
    }
    listing.entry_pending = false;
    const WIN32_FIND_DATAW& entry = listing.entry;
    // The limit to folders is only a hint to the file system; a junction or
    // folder link leads outside the tree the rule named.
    if (IsDotEntry(entry) || !IsFolder(entry) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      continue;
    }
    return Join(listing.folder, entry.cFileName);
  }
}

// Depth first over the tree, with a stack of open listings instead of
// recursion, so a deep tree cannot exhaust the thread's stack.
int Walk(const std::wstring& root) {
  const DWORD root_attributes = ::GetFileAttributesW(root.c_str());
  // A root that is itself a link would take the walk outside the profile.
  if (root_attributes != INVALID_FILE_ATTRIBUTES && (root_attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return 1;
  WalkResult files = DeleteFilesIn(root);
  if (files.step == Step::kStop) return files.result;
  if (files.step == Step::kLeave) return 1;
  std::vector<OpenListing> stack;
  if (std::optional<OpenListing> first = ListSubfolders(root)) stack.push_back(std::move(*first));
  while (!stack.empty()) {
    DWORD error = ERROR_NO_MORE_FILES;
    const std::optional<std::wstring> folder = NextSubfolder(stack.back(), error);
    if (!folder) {
      if (error != ERROR_NO_MORE_FILES) return StopBy(error).result;
      stack.pop_back();
      continue;
    }
    files = DeleteFilesIn(*folder);
    if (files.step == Step::kStop) return files.result;
    if (files.step == Step::kLeave) continue;
    if (std::optional<OpenListing> inner = ListSubfolders(*folder)) stack.push_back(std::move(*inner));
  }
  return 1;
}

// A known folder without trailing backslash; empty when it cannot be had.
std::u16string ProfileFolder(int csidl) {
  const std::optional<std::wstring> path = KnownFolder(csidl);
  if (!path) return {};
  std::wstring_view folder(*path);
  while (!folder.empty() && folder.back() == L'\\') folder.remove_suffix(1);
  return ToU16(folder);
}

std::wstring RulesFilePath() {
  std::wstring folder;
  // A missing value leaves a relative name, which fails to load like a
  // missing file and is reported the same way.
  if (!config::ReadStringSetting(config::SettingId::kInstallPath, folder)) folder.clear();
  std::wstring path = folder + std::wstring(kRulesFileName);
  // Too long for the path buffer: refused, and reported as unreadable.
  if (path.size() > kMaxRuleChars) return {};
  return path;
}

}  // namespace

HistoryCleaner::HistoryCleaner()
    : HistoryCleaner(RulesFilePath(),
                     ProfileFolders{ProfileFolder(CSIDL_LOCAL_APPDATA), ProfileFolder(CSIDL_APPDATA),
                                    ProfileFolder(CSIDL_PROFILE)}) {}

HistoryCleaner::HistoryCleaner(const std::wstring& rules_path, ProfileFolders folders)
    : folders_(std::move(folders)) {
  LoadRules(rules_path);
}

void HistoryCleaner::LoadRules(const std::wstring& rules_path) {
  if (!rules_path.empty() && rules_.LoadFile(ToU16(rules_path))) return;
  // A half-read document must not run what it happens to hold.
  // Clearing leaves an empty document, never a well-formed one.
  (void)rules_.SetText(nullptr);
  (void)common::ShowUserMessage(nullptr, kRulesFileErrorText, ToWide(common::kMessageCaption), MB_ICONERROR);
}

int HistoryCleaner::CleanDefaultBrowser() {
  std::wstring value;
  if (!config::ReadStringSetting(config::SettingId::kDefaultBrowser, value) || value.size() >= kPathChars) return 1;
  const DefaultBrowser browser = ClassifyDefaultBrowser(ToU16(value));
  switch (browser.cleaning) {
    case BrowserCleaning::kInternetExplorer:
      // Started and left to itself: the routine ends on its own time.
      (void)common::LaunchProgram(
          common::LaunchRequest{L"RunDll32.exe", L"InetCpl.cpl,ClearMyTracksByProcess 255", SW_HIDE, L"open"});
      return 1;
    case BrowserCleaning::kRules:
      return CleanBrowser(browser.cleaner_id);
    case BrowserCleaning::kNothing:
      break;
  }
  return 1;
}

int HistoryCleaner::CleanBrowser(std::u16string_view cleaner_id) {
  for (const DeleteStep& step : PlanClean(rules_, cleaner_id, folders_)) {
    if (DeleteTarget(ToWide(step.path), static_cast<int>(step.mode)) == 0) return 0;
  }
  return 1;
}

int HistoryCleaner::DeleteTarget(const std::wstring& path, int mode) {
  if (path.empty() || path.size() > kMaxRuleChars) return 1;
  switch (mode) {
    case static_cast<int>(DeleteMode::kFile):
      return DeleteSingleFile(path);
    case static_cast<int>(DeleteMode::kGlob):
      return DeleteGlob(path);
    case static_cast<int>(DeleteMode::kWalk):
      return Walk(path);
    default:
      return 1;
  }
}

}  // namespace veltrona::privacy
