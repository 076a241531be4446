#include "tests/win_test_support/links_win.h"

#include <windows.h>

#include "base/unique_handle_win.h"

namespace veltrona::test_support {

namespace {

// Looks at the entry itself, so a link whose target is gone still counts.
bool IsReparsePoint(const std::wstring& path) {
  WIN32_FIND_DATAW entry{};
  const HANDLE found = ::FindFirstFileW(path.c_str(), &entry);
  if (found == INVALID_HANDLE_VALUE) return false;
  ::FindClose(found);
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The Unix name Wine gives a Windows path; empty off Wine.
std::wstring UnixName(const std::wstring& path) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = convert ? convert(path.c_str()) : nullptr;
  if (name == nullptr) return {};
  std::wstring result;
  for (const char* p = name; *p; ++p) result += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

// Runs a Unix program; waiting on its handle returns early under Wine, so
// callers watch for the effect.
bool RunUnix(const wchar_t* program, std::wstring command) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  UniqueProcess process(info.hProcess);
  UniqueKernelHandle thread(info.hThread);
  return true;
}

bool MakeUnixLink(const std::wstring& link, const std::wstring& target) {
  const std::wstring unix_target = UnixName(target);
  const std::wstring unix_link = UnixName(link);
  if (unix_target.empty() || unix_link.empty()) return false;
  if (!RunUnix(L"Z:\\bin\\ln", L"/bin/ln -s \"" + unix_target + L"\" \"" + unix_link + L"\"")) return false;
  for (int i = 0; i < 100 && !IsReparsePoint(link); ++i) ::Sleep(50);
  return IsReparsePoint(link);
}

}  // namespace

void RemoveFolderLink(const std::wstring& link) {
  if (!IsReparsePoint(link)) return;
  // Wine's RemoveDirectoryW acts on what the link points to; remove the
  // link itself on the Unix side there.
  const std::wstring unix_link = UnixName(link);
  if (unix_link.empty()) {
    ::RemoveDirectoryW(link.c_str());
    return;
  }
  if (!RunUnix(L"Z:\\bin\\rm", L"/bin/rm -f \"" + unix_link + L"\"")) return;
  for (int i = 0; i < 100 && IsReparsePoint(link); ++i) ::Sleep(50);
}

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
  if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && IsReparsePoint(link)) {
    return true;
  }
  return MakeUnixLink(link, target);
}

}  // namespace veltrona::test_support
