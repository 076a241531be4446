// Clears the default web browser's cookies, history, caches and session
// traces after a disconnect: Internet Explorer through its own routine, the
// other known browsers by the rules file that comes with the installation.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "client/privacy/history_rules.h"
#include "client/xml/xml_document.h"

namespace veltrona::privacy {

inline constexpr std::wstring_view kRulesFileName = L"SurfingPrefs.xml";
inline constexpr std::wstring_view kRulesFileErrorText = L"Can't open web browser surfing preference file.";

class HistoryCleaner {
 public:
  // Loads "<Install Path>SurfingPrefs.xml" and takes the user's folders; a
  // rules file that cannot be read is reported here, and cleans then do
  // nothing.
  HistoryCleaner();
  // The same with the rules file and folders given.
  HistoryCleaner(const std::wstring& rules_path, ProfileFolders folders);
  HistoryCleaner(const HistoryCleaner&) = delete;
  HistoryCleaner& operator=(const HistoryCleaner&) = delete;

  // 1 when done (or there was nothing to do), 0 when a browser file was in
  // use or denied, so the user should close the browser and retry.
  [[nodiscard]] int CleanDefaultBrowser();
  [[nodiscard]] int CleanBrowser(std::u16string_view cleaner_id);
  // `mode` 0 file, 1 glob, 2 walk; any other does nothing and returns 1.
  [[nodiscard]] static int DeleteTarget(const std::wstring& path, int mode);

  const ProfileFolders& folders() const { return folders_; }

 private:
  void LoadRules(const std::wstring& rules_path);

  xml::XmlDocument rules_;
  ProfileFolders folders_;
};

}  // namespace veltrona::privacy
