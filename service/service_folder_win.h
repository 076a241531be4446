// The service's own folder, "Veltrona VPN" under the machine-wide
// application-data folder, and everything the service writes below it: the
// log, the route journal and OpenVPN's copy of the configuration. Local users
// may create folders in the application-data folder, so whatever is found
// there may be theirs: the service uses only what it can show to be its own,
// works through handles it keeps open, and removes the rest without ever
// following a link.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/unique_handle_win.h"

namespace veltrona::service {

// SYSTEM and administrators: everything. Authenticated users may list the
// folder and read its attributes, so that the problem report finds the log.
inline constexpr wchar_t kServiceFolderSddl[] = L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;AU)";
// The log: authenticated users may read it.
inline constexpr wchar_t kServiceLogSddl[] = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;AU)";
// The route journal and OpenVPN's copies: SYSTEM and administrators only.
inline constexpr wchar_t kPrivateFileSddl[] = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)";

class ServiceFolder {
 public:
  // A folder that cannot be used.
  ServiceFolder() = default;
  ServiceFolder(ServiceFolder&&) noexcept = default;
  ServiceFolder& operator=(ServiceFolder&&) noexcept = default;

  // "<common application data>\Veltrona VPN".
  static ServiceFolder Prepare();
  // The folder `name` in `parent`: opened when it is a plain folder that only
  // SYSTEM, the administrators and the service's account own and may change;
  // otherwise removed, without following links, and created anew with
  // kServiceFolderSddl. Held open without delete sharing, so that it cannot
  // be renamed or replaced while the service runs.
  static ServiceFolder Prepare(const std::wstring& parent, const std::wstring& name);

  [[nodiscard]] bool usable() const { return handle_.IsValid(); }
  [[nodiscard]] HANDLE handle() const { return handle_.Get(); }
  // The path the system reports for the open folder.
  [[nodiscard]] const std::wstring& path() const { return path_; }
  // The path that was asked for, also when it could not be used.
  [[nodiscard]] const std::wstring& wanted_path() const { return wanted_path_; }
  // What was done to an earlier folder, for the log once it is open.
  [[nodiscard]] const std::vector<std::string>& notes() const { return notes_; }
  // Why the folder cannot be used; empty when it can.
  [[nodiscard]] const std::string& failure() const { return failure_; }

 private:
  UniqueFile handle_;
  std::wstring path_;
  std::wstring wanted_path_;
  std::vector<std::string> notes_;
  std::string failure_;
};

// Opens or creates `name` (one component) inside the open folder `parent`,
// never following a link at the last component. `error` gets a system error
// code when the result is invalid.
UniqueFile OpenChild(HANDLE parent, const std::wstring& name, ACCESS_MASK access, DWORD share, DWORD disposition,
                     DWORD options, PSECURITY_DESCRIPTOR descriptor, DWORD* error) noexcept;

// The full path the system reports for an open file or folder, without the
// "\\?\" prefix; empty when it cannot tell.
std::wstring OpenedPath(HANDLE object);

// Why the open object cannot be relied on, or empty: it is a link, it was
// reached through one (its reported path is not `expected_path`), it is not
// of the expected kind, a file has further names (hard links), or someone
// other than SYSTEM, the administrators or the service's account owns it or
// may change it.
std::string CheckOpened(HANDLE object, const std::wstring& expected_path, bool directory);

// Removes `name` from the open folder `parent`, whose reported path is
// `parent_path`, with everything in it. A link is removed as itself and never
// entered; each entry is opened relative to its folder's handle and deleted
// through its own handle. Something missing counts as removed. False, with
// the reason, when anything could not be removed, among them a link that the
// system cannot remove as itself.
[[nodiscard]] bool RemoveChild(HANDLE parent, const std::wstring& parent_path, const std::wstring& name,
                               std::string* why_not);

// A copy of files that nobody can change, replace or rename while it is held:
// its folder and every file in it stay open, shared for reading only.
class HeldCopy {
 public:
  HeldCopy() = default;
  HeldCopy(HeldCopy&&) noexcept = default;
  HeldCopy& operator=(HeldCopy&&) noexcept = default;

  // The copy's folder, as the system reports it.
  [[nodiscard]] const std::wstring& folder() const { return folder_; }

 private:
  friend bool WriteHeldCopy(const ServiceFolder&, const std::wstring&,
                            const std::vector<std::pair<std::wstring, std::string>>&, HeldCopy*, std::string*);
  std::wstring folder_;
  std::vector<UniqueFile> handles_;
};

// Replaces the folder `name` in the service folder with a new one holding
// `files` (backslash-separated relative paths and their bytes), every folder
// and file created new with SYSTEM and administrators as the only ones with
// access. False, with the reason, when that cannot be done.
[[nodiscard]] bool WriteHeldCopy(const ServiceFolder& service_folder, const std::wstring& name,
                                 const std::vector<std::pair<std::wstring, std::string>>& files, HeldCopy* copy,
                                 std::string* why_not);

// "error 0x0000007b" for log lines and event texts.
std::string ErrorText(DWORD code);
// Text in the system's ANSI code page, as the log holds it.
std::string AnsiText(const std::wstring& text);

}  // namespace veltrona::service
