#include "client/xml/xml_file.h"

#include <windows.h>

namespace {

// Closes the file on every path out of XmlReadFileWindows; Close() reports the
// result when the caller wants it.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) noexcept : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const noexcept { return handle_; }
  bool Close() noexcept {
    const BOOL ok = ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE handle_;
};

std::u16string SystemMessage(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::u16string text;
  if (length != 0 && buffer != nullptr) text.assign(buffer, buffer + length);
  if (buffer != nullptr) ::LocalFree(buffer);
  return XmlFirstLine(text);
}

XmlFileStatus Failure(DWORD error) {
  XmlFileStatus status;
  status.errorCode = error;
  status.errorText = SystemMessage(error);
  return status;
}

}  // namespace

XmlFileStatus XmlReadFileWindows(const std::u16string& path, std::string& bytes) {
  bytes.clear();
  const std::wstring widePath(path.begin(), path.end());
  FileHandle file(::CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return Failure(::GetLastError());
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.get(), &size)) return Failure(::GetLastError());
  if (static_cast<unsigned long long>(size.QuadPart) > XML_MAX_TEXT_LENGTH) {
    return Failure(ERROR_FILE_TOO_LARGE);
  }
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(bytes.size() - done);
    if (!::ReadFile(file.get(), bytes.data() + done, want, &got, nullptr)) {
      const DWORD error = ::GetLastError();
      bytes.clear();
      return Failure(error);
    }
    if (got == 0) break;  // the file shrank while we read it
    done += got;
  }
  bytes.resize(done);
  XmlFileStatus status;
  status.ok = true;
  if (!file.Close()) {
    status.closeFailed = true;
    status.closeCode = ::GetLastError();
    status.closeText = SystemMessage(status.closeCode);
  }
  return status;
}
