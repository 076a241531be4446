#include "base/system_error_win.h"

#include <algorithm>

#include "base/system_error.h"
#include "base/unique_handle_win.h"
#include "base/wide_text.h"

namespace veltrona {

std::wstring SystemMessageText(DWORD code) {
  wchar_t* buffer = nullptr;
  // Inserts are ignored: with no arguments to hand, a message that has
  // "%1" in it would otherwise make the system read arguments that are not
  // there.
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  UniqueLocalMemory owner(buffer);
  if (length == 0 || buffer == nullptr) return {};
  return std::wstring(buffer, length);
}

std::string SystemMessageTextAnsi(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<char*>(&buffer), 0, nullptr);
  const UniqueLocalMemory owner(buffer);
  if (length == 0 || buffer == nullptr) return {};
  return std::string(buffer, length);
}

const wchar_t* LastErrorText() noexcept {
  static wchar_t text[kErrorTextCapacity];
  const DWORD code = ::GetLastError();
  try {
    const std::u16string formatted = FormatSystemErrorText(ToU16(SystemMessageText(code)), code);
    const size_t count = std::min(formatted.size(), kErrorTextCapacity - 1);
    std::copy_n(formatted.begin(), count, text);
    text[count] = L'\0';
  } catch (...) {
    text[0] = L'\0';
  }
  ::SetLastError(code);
  return text;
}

}  // namespace veltrona
