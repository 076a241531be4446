#include <windows.h>

#include <algorithm>
#include <climits>

#include "client/xml/xml_encoding.h"

namespace veltrona::xml {

bool XmlDecodeWindows(std::uint32_t codePage, std::string_view bytes, std::u16string& out) {
  out.clear();
  if (bytes.empty()) return ::IsValidCodePage(codePage == XML_CP_ANSI ? ::GetACP() : codePage) != FALSE;
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const UINT cp = codePage == XML_CP_ANSI ? CP_ACP : codePage;
  const int inLength = static_cast<int>(bytes.size());
  // One conversion straight into the text, sized for the usual result: a
  // unit per byte, or for UTF-8 that is not ASCII the exact count of
  // well-formed text. Only when that is too small is the size asked for first.
  const std::size_t room =
      std::max<std::size_t>(codePage == XML_CP_UTF8 ? XmlUtf16RoomForUtf8(bytes) : bytes.size(), 1);
  out.resize(room);
  int written = ::MultiByteToWideChar(cp, 0, bytes.data(), inLength, reinterpret_cast<wchar_t*>(out.data()),
                                      static_cast<int>(room));
  if (written <= 0 && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    const int needed = ::MultiByteToWideChar(cp, 0, bytes.data(), inLength, nullptr, 0);
    if (needed > 0) {
      out.resize(static_cast<std::size_t>(needed));
      written = ::MultiByteToWideChar(cp, 0, bytes.data(), inLength, reinterpret_cast<wchar_t*>(out.data()), needed);
    }
  }
  if (written <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<std::size_t>(written));
  XmlReleaseUnusedRoom(out);
  return true;
}

}  // namespace veltrona::xml
