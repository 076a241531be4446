#include "tests/win_test_support/links_win.h"

#include <windows.h>

#include <utility>

#include "base/unique_handle_win.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/process_win.h"

namespace veltrona::test_support {

namespace {

// Looks at the entry itself, so a link whose target is gone still counts.
bool IsReparsePoint(const std::wstring& path) {
  WIN32_FIND_DATAW entry{};
  const UniqueFindHandle found(::FindFirstFileW(path.c_str(), &entry));
  return found && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The Unix name, widened for a command line; empty outside Wine.
std::wstring UnixName(const std::wstring& path) {
  const std::string name = UnixPath(path);
  return std::wstring(name.begin(), name.end());
}

// Runs a Unix program; waiting on its handle returns early under Wine, so
// callers watch for the effect.
bool RunUnix(const wchar_t* program, std::wstring command) {
  return StartProgram(program, std::move(command)).has_value();
}

bool MakeUnixLink(const std::wstring& link, const std::wstring& target, bool (*made)(const std::wstring&)) {
  const std::wstring unix_target = UnixName(target);
  const std::wstring unix_link = UnixName(link);
  if (unix_target.empty() || unix_link.empty()) return false;
  if (!RunUnix(L"Z:\\bin\\ln", L"/bin/ln -s \"" + unix_target + L"\" \"" + unix_link + L"\"")) return false;
  for (int i = 0; i < 100 && !made(link); ++i) ::Sleep(50);
  return made(link);
}

void RemoveUnixLink(const std::wstring& link, bool (*present)(const std::wstring&)) {
  const std::wstring unix_link = UnixName(link);
  if (unix_link.empty() || !RunUnix(L"Z:\\bin\\rm", L"/bin/rm -f \"" + unix_link + L"\"")) return;
  for (int i = 0; i < 100 && present(link); ++i) ::Sleep(50);
}

}  // namespace

bool IsLink(const std::wstring& path) { return IsReparsePoint(path); }

void RemoveFolderLink(const std::wstring& link) {
  if (!IsReparsePoint(link)) return;
  // Wine's RemoveDirectoryW acts on what the link points to; remove the
  // link itself on the Unix side there.
  if (UnixName(link).empty()) {
    ::RemoveDirectoryW(link.c_str());
    return;
  }
  RemoveUnixLink(link, IsReparsePoint);
}

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
  if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && IsReparsePoint(link)) {
    return true;
  }
  return MakeUnixLink(link, target, IsReparsePoint);
}

std::string WineDebugOutput(const std::wstring& program, const std::wstring& channels) {
  wchar_t loader[MAX_PATH] = {};
  wchar_t temp[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"WINELOADER", loader, MAX_PATH) == 0 || ::GetTempPathW(MAX_PATH, temp) == 0) return {};
  const std::wstring output = std::wstring(temp) + L"veltrona-wine-debug-" + std::to_wstring(::GetTickCount64());
  const std::wstring done = output + L".done";
  for (const std::wstring& file : {output, done}) {
    UniqueFile created(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  const std::wstring unix_program = UnixName(program);
  const std::wstring unix_output = UnixName(output);
  const std::wstring unix_done = UnixName(done);
  if (unix_program.empty() || unix_output.empty() || unix_done.empty()) return {};
  if (!RunUnix(L"Z:\\bin\\sh", L"/bin/sh -c \"WINEDEBUG='" + channels + L"' '" + loader + L"' '" + unix_program +
                                      L"' >/dev/null 2>'" + unix_output + L"'; echo $? >'" + unix_done + L"'\"")) {
    return {};
  }
  std::string text;
  for (int i = 0; i < 1200; ++i) {
    UniqueFile finished(::CreateFileW(done.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (finished && ::GetFileSizeEx(finished.Get(), &size) && size.QuadPart > 0) {
      UniqueFile result(::CreateFileW(output.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
      char buffer[4096];
      DWORD read = 0;
      while (result && ::ReadFile(result.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
      }
      break;
    }
    ::Sleep(50);
  }
  ::DeleteFileW(output.c_str());
  ::DeleteFileW(done.c_str());
  return text;
}

bool MakeFileLink(const std::wstring& link, const std::wstring& target) {
  if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), 0) && IsReparsePoint(link)) return true;
  return MakeUnixLink(link, target, FileExists);
}

void RemoveFileLink(const std::wstring& link) {
  if (UnixName(link).empty()) {
    if (IsReparsePoint(link)) ::DeleteFileW(link.c_str());
    return;
  }
  RemoveUnixLink(link, FileExists);
}

}  // namespace veltrona::test_support
