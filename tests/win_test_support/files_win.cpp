#include "tests/win_test_support/files_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "tests/win_test_support/process_win.h"

namespace veltrona::test_support {
namespace {

bool RemoveTree(const std::wstring& folder) {
  {
    // The listing is closed before the folder goes.
    WIN32_FIND_DATAW found{};
    const UniqueFindHandle search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (search) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(path);
        } else {
          ::DeleteFileW(path.c_str());
        }
      } while (::FindNextFileW(search.Get(), &found));
    }
  }
  return ::RemoveDirectoryW(folder.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

std::string ReadWholeFile(const std::wstring& path) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (file && ::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

bool WriteWholeFile(const std::wstring& path, std::string_view bytes) {
  UniqueFile file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring KnownFolderPath(int csidl) { return KnownFolder(csidl).value_or(std::wstring()); }

TempFolder::TempFolder(const std::wstring& prefix) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + prefix + UniqueSuffix();
  ::CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
  // Wine's console host may hold a program's output file a little after the
  // program ended.
  for (int attempt = 0; attempt < 40 && !RemoveTree(path_); ++attempt) ::Sleep(50);
}

std::wstring TempFolder::Make(const std::wstring& relative) const {
  const std::wstring path = path_ + L"\\" + relative;
  ::CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

void TempFolder::Write(const std::wstring& name, std::string_view bytes) const {
  const std::wstring path = path_ + L"\\" + name;
  if (!WriteWholeFile(path, bytes)) ADD_FAILURE() << "cannot write " << std::string(path.begin(), path.end());
}

std::string TempFolder::Read(const std::wstring& name) const { return ReadWholeFile(path_ + L"\\" + name); }

}  // namespace veltrona::test_support
