// Feeds arbitrary text to XmlDocument::SetText, then walks the document with
// every navigation and value call.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/xml/xml_document.h"
#include "client/xml/xml_encoding.h"

namespace {

using namespace veltrona::xml;

// Reads a name to search for from the walk's own input so that both hits and
// misses are exercised.
std::u16string PickName(const std::u16string& text, std::size_t& seed) {
  if (text.empty()) return {};
  seed = seed * 1103515245u + 12345u;
  const std::size_t start = seed % text.size();
  const std::size_t length = (seed >> 8) % 6;
  return text.substr(start, length);
}

void Walk(XmlDocument& doc) {
  std::size_t seed = doc.GetText().size();
  // Bounded: every search moves forward, so the number of steps is linear.
  const std::size_t limit = 4 * doc.RecordCount() + 16;
  for (std::size_t step = 0; step < limit; ++step) {
    const std::u16string name = PickName(doc.GetText(), seed);
    bool moved = false;
    switch (seed % 7) {
      case 0: moved = doc.FindNextElement(); break;
      case 1: moved = doc.FindNextElement(name); break;
      case 2: moved = doc.FindNextChild(); break;
      case 3: moved = doc.FindNextChild(name); break;
      case 4: moved = doc.EnterElement(); break;
      case 5: moved = doc.LeaveElement(); break;
      default: doc.ResetPosition(); break;
    }
    (void)moved;
    (void)doc.ElementData();
    (void)doc.ElementAttribute(name);
    (void)doc.ChildAttribute(name);
    (void)doc.Record(doc.Current());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the flags; the rest is read as UTF-8 (ill-formed
  // bytes become U+FFFD), so seed documents stay readable.
  const std::uint32_t flags = (data[0] & 1) ? XML_IGNORE_CASE : 0;
  std::u16string text;
  XmlAppendUtf8(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), text);
  XmlDocument doc;
  doc.SetFlags(flags);
  (void)doc.SetText(text);  // well-formed or not, the walk below must stay within bounds
  Walk(doc);
  // Full walk in document order, every element by name.
  doc.ResetPosition();
  while (doc.FindNextElement()) {
    while (doc.FindNextChild()) {
      (void)doc.ChildAttribute(u"a");
    }
    (void)doc.ElementData();
  }
  return 0;
}
