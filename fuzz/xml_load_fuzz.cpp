// Feeds arbitrary bytes to the file-loading path (XmlDocument::LoadBytes):
// byte-order marks, declared encodings, UTF-8 detection and conversion.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "client/xml/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veltrona::xml::XmlDocument doc;
  // Any bytes: what matters is that every call below stays within bounds.
  (void)doc.LoadBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  while (doc.FindNextElement()) {
    while (doc.FindNextChild()) (void)doc.ChildAttribute(u"encoding");
    (void)doc.ElementData();
  }
  return 0;
}
