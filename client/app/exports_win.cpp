// The two functions the client program exports. They only show message boxes.
#include <windows.h>

#include <string>

#include "client/common/user_messages_win.h"

namespace {

std::wstring FromAnsi(const char* text) {
  if (text == nullptr || *text == '\0') return {};
  const int size = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  const int written = ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), size);
  wide.resize(written > 0 ? static_cast<size_t>(written) - 1 : 0);
  return wide;
}

}  // namespace

extern "C" __declspec(dllexport) int test() {
  return veltrona::common::ShowUserMessage(nullptr, L"Inside the test funcion in EXE", L"test", MB_OK);
}

extern "C" __declspec(dllexport) int ExtractCredentials(const char* text) {
  (void)veltrona::common::ShowUserMessage(nullptr, L"Inside the EXE", L"test", MB_OK);
  return veltrona::common::ShowUserMessage(nullptr, FromAnsi(text), L"You are trying export", MB_OK);
}
