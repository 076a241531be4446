// Static name tables used by the XML reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrona::xml::internal {

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

}  // namespace veltrona::xml::internal

