// Static name tables used by the XML reader.
#ifndef CLIENT_XML_XML_TABLES_H_
#define CLIENT_XML_XML_TABLES_H_

#include <cstddef>
#include <cstdint>

namespace xml_internal {

struct EntityName {
  const char* name;
  std::uint16_t value;  // every HTML 4 character is in the basic plane
};

struct EncodingName {
  const char* name;  // lower case
  std::uint32_t codePage;
};

extern const EntityName kEntityNames[];
extern const std::size_t kEntityNameCount;
extern const EncodingName kEncodingNames[];
extern const std::size_t kEncodingNameCount;

}  // namespace xml_internal

#endif  // CLIENT_XML_XML_TABLES_H_
