#include <windows.h>

#include <climits>

#include "client/xml/xml_encoding.h"

namespace veltrona::xml {

bool XmlDecodeWindows(std::uint32_t codePage, std::string_view bytes, std::u16string& out) {
  out.clear();
  if (bytes.empty()) return ::IsValidCodePage(codePage == XML_CP_ANSI ? ::GetACP() : codePage) != FALSE;
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const UINT cp = codePage == XML_CP_ANSI ? CP_ACP : codePage;
  const int inLength = static_cast<int>(bytes.size());
  const int needed = ::MultiByteToWideChar(cp, 0, bytes.data(), inLength, nullptr, 0);
  if (needed <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  const int written = ::MultiByteToWideChar(cp, 0, bytes.data(), inLength, wide.data(), needed);
  if (written <= 0) return false;
  out.assign(wide.begin(), wide.begin() + written);
  return true;
}

}  // namespace veltrona::xml
