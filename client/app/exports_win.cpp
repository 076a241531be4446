// The two functions the client program exports. They only show message boxes.
#include <windows.h>

#include <string>

#include "base/wide_text.h"
#include "client/common/user_messages_win.h"
#include "client/xml/xml_encoding.h"

namespace {

std::wstring FromAnsi(const char* text) {
  std::u16string wide;
  if (text == nullptr || !veltrona::xml::XmlDecodeWindows(veltrona::xml::XML_CP_ANSI, text, wide)) return {};
  return veltrona::ToWide(wide);
}

}  // namespace

extern "C" __declspec(dllexport) int test() {
  return veltrona::common::ShowUserMessage(nullptr, L"Inside the test funcion in EXE", L"test", MB_OK);
}

extern "C" __declspec(dllexport) int ExtractCredentials(const char* text) {
  (void)veltrona::common::ShowUserMessage(nullptr, L"Inside the EXE", L"test", MB_OK);
  return veltrona::common::ShowUserMessage(nullptr, FromAnsi(text), L"You are trying export", MB_OK);
}
