// The installer's two custom actions, in a DLL that Windows Installer loads:
//
// CloseClient (immediate, as the user who runs the installer): asks each
// running VeltronaVpn.exe to end as its tray menu's Exit does, which
// disconnects and puts the user's proxy settings back, and ends the ones
// that are still there after a while.
//
// RemoveServiceFolder (deferred, as LocalSystem): deletes the service's
// folder under ProgramData, whose path comes in CustomActionData. It never
// follows a junction or link: a link is removed, not what it points at.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "client/resources/resource.h"

namespace {

using veltrona::UniqueFile;
using veltrona::UniqueFindHandle;
using veltrona::UniqueProcess;

constexpr DWORD kExitWaitMs = 15000;

void Log(MSIHANDLE install, const std::wstring& text) {
  PMSIHANDLE record = ::MsiCreateRecord(1);
  ::MsiRecordSetStringW(record, 0, text.c_str());
  ::MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

std::vector<DWORD> ClientProcesses() {
  std::vector<DWORD> ids;
  UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.Get() == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, L"VeltronaVpn.exe") == 0) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

struct ExitRequest {
  DWORD process_id;
  bool sent;
};

// The client's main window is the dialog with the Connect button; the
// Exit command reaches it whether it is shown or hidden in the tray.
BOOL CALLBACK AskToExit(HWND window, LPARAM param) {
  auto* request = reinterpret_cast<ExitRequest*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != request->process_id || ::GetDlgItem(window, IDC_CONNECT) == nullptr) return TRUE;
  request->sent = ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0) != FALSE || request->sent;
  return TRUE;
}

// Deletes `folder` and what it holds. A reparse point (junction, symbolic
// link, mount point) is removed itself and never entered.
bool DeleteTree(const std::wstring& folder) {
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ::GetLastError() == ERROR_FILE_NOT_FOUND ||
                                                    ::GetLastError() == ERROR_PATH_NOT_FOUND;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ::RemoveDirectoryW(folder.c_str()) != FALSE
                                                        : ::DeleteFileW(folder.c_str()) != FALSE;
  }
  bool ok = true;
  WIN32_FIND_DATAW found{};
  {
    UniqueFindHandle search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (search) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        ok = DeleteTree(folder + L"\\" + name) && ok;
      } while (::FindNextFileW(search.Get(), &found));
    }
  }
  return ::RemoveDirectoryW(folder.c_str()) != FALSE && ok;
}

size_t CountProcesses(const wchar_t* name) {
  size_t count = 0;
  UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.Get() == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0) ++count;
  }
  return count;
}

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t empty[1] = {};
  if (::MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return L"";
  std::wstring value(size + 1, L'\0');
  size = static_cast<DWORD>(value.size());
  if (::MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return L"";
  value.resize(size);
  return value;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall CloseClient(MSIHANDLE install) {
  const std::vector<DWORD> clients = ClientProcesses();
  for (const DWORD id : clients) {
    UniqueProcess process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
    ExitRequest request{id, false};
    ::EnumWindows(AskToExit, reinterpret_cast<LPARAM>(&request));
    if (request.sent && process && ::WaitForSingleObject(process.Get(), kExitWaitMs) == WAIT_OBJECT_0) {
      Log(install, L"VeltronaVpn.exe (process " + std::to_wstring(id) + L") exited");
      continue;
    }
    if (process && ::TerminateProcess(process.Get(), 1)) {
      ::WaitForSingleObject(process.Get(), kExitWaitMs);
      Log(install, L"VeltronaVpn.exe (process " + std::to_wstring(id) + L") did not exit and was ended");
    } else {
      Log(install, L"VeltronaVpn.exe (process " + std::to_wstring(id) + L") could not be ended, error " +
                       std::to_wstring(::GetLastError()));
    }
  }
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RemoveServiceFolder(MSIHANDLE install) {
  const std::wstring folder = Property(install, L"CustomActionData");
  // Only ever the folder the package names, never a drive or a bare name.
  if (folder.size() < 4 || folder.find(L"\\Veltrona VPN") == std::wstring::npos) {
    Log(install, L"RemoveServiceFolder: no folder given");
    return ERROR_SUCCESS;
  }
  std::wstring path = folder;
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  // The service's process holds its log until it has ended, which may be a
  // while after the service was reported stopped.
  for (int wait = 0; wait < 120 && CountProcesses(L"VeltronaVPNsrv.exe") > 0; ++wait) ::Sleep(250);
  bool removed = false;
  for (int attempt = 0; attempt < 20 && !(removed = DeleteTree(path)); ++attempt) ::Sleep(250);
  Log(install, L"RemoveServiceFolder: " + path + (removed ? L" removed" : L" could not be removed completely"));
  return ERROR_SUCCESS;
}
