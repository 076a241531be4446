#include "base/console_win.h"

#include <windows.h>

#include <string>

namespace veltrona {

void ConsoleWrite(std::wstring_view text) noexcept {
  if (text.empty()) return;
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  try {
    DWORD mode = 0;
    if (::GetConsoleMode(out, &mode)) {
      DWORD written = 0;
      ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      return;
    }
    // Redirected: the same bytes the C runtime's text mode would give.
    std::wstring crlf;
    crlf.reserve(text.size() + 8);
    for (wchar_t c : text) {
      if (c == L'\n') crlf += L'\r';
      crlf += c;
    }
    UINT code_page = ::GetConsoleOutputCP();
    if (code_page == 0) code_page = CP_ACP;
    const int size = ::WideCharToMultiByte(code_page, 0, crlf.data(), static_cast<int>(crlf.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (size <= 0) return;
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(code_page, 0, crlf.data(), static_cast<int>(crlf.size()), bytes.data(), size, nullptr,
                          nullptr);
    DWORD written = 0;
    ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  } catch (...) {
  }
}

}  // namespace veltrona
