// Files as the tests see them: whole-file reads and writes, and temporary
// folders that go away with everything in them.
#pragma once

#include <string>
#include <string_view>

namespace veltrona::test_support {

// Reads share the file with its writer (the service keeps its log open). A
// missing or unreadable file reads as empty.
std::string ReadWholeFile(const std::wstring& path);
// Creates or replaces the file; true when every byte was written.
[[nodiscard]] bool WriteWholeFile(const std::wstring& path, std::string_view bytes);
bool FileExists(const std::wstring& path);

// The shell's known folder `csidl` (a CSIDL_ value from <shlobj.h>), found as
// the programs find it (KnownFolder, base/known_folders_win.h); empty when the
// shell reports a failure.
std::wstring KnownFolderPath(int csidl);

// A fresh folder under the temporary folder, named `prefix` and a unique
// suffix, removed with everything in it.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& Path() const { return path_; }
  // Makes the sub-folder `relative` and returns its path.
  std::wstring Make(const std::wstring& relative) const;
  // The file `name` in the folder; a write that fails fails the running test.
  void Write(const std::wstring& name, std::string_view bytes) const;
  std::string Read(const std::wstring& name) const;

 private:
  std::wstring path_;
};

}  // namespace veltrona::test_support
