#include "client/xml/xml_file.h"

#include <windows.h>

#include <algorithm>

#include "base/system_error_win.h"
#include "base/unique_handle_win.h"

namespace veltrona::xml {

namespace {

std::u16string SystemMessage(DWORD error) {
  const std::wstring text = SystemMessageText(error);
  return XmlFirstLine(std::u16string(text.begin(), text.end()));
}

XmlFileStatus Failure(DWORD error) {
  XmlFileStatus status;
  status.errorCode = error;
  status.errorText = SystemMessage(error);
  return status;
}

}  // namespace

XmlFileStatus XmlReadFileWindows(const std::u16string& path, XmlFileSink& sink) {
  const std::wstring widePath(path.begin(), path.end());
  UniqueFile file(::CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return Failure(::GetLastError());
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.Get(), &size)) return Failure(::GetLastError());
  if (static_cast<unsigned long long>(size.QuadPart) > XML_MAX_TEXT_LENGTH) {
    return Failure(ERROR_FILE_TOO_LARGE);
  }
  const auto total = static_cast<std::size_t>(size.QuadPart);
  if (!sink.Begin(total)) return Failure(ERROR_NOT_ENOUGH_MEMORY);
  std::size_t done = 0;
  while (done < total) {
    const std::span<char> room = sink.Room();
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min(room.size(), total - done));
    if (!::ReadFile(file.Get(), room.data(), want, &got, nullptr)) return Failure(::GetLastError());
    if (got == 0) break;  // the file shrank while we read it
    if (!sink.Filled(got)) return Failure(ERROR_NOT_ENOUGH_MEMORY);
    done += got;
  }
  XmlFileStatus status;
  status.ok = true;
  if (!file.Close()) {
    status.closeFailed = true;
    status.closeCode = ::GetLastError();
    status.closeText = SystemMessage(status.closeCode);
  }
  return status;
}

}  // namespace veltrona::xml
