// Where an entry of the downloaded key archive may be written, and how much
// of an archive is unpacked at all. The archive comes over plain HTTP, so
// its names and sizes are treated as hostile: an entry lands inside the data
// folder or nowhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "client/xml/xml_encoding.h"

namespace veltrona::config {

// Zip's "file name is UTF-8" flag (general purpose bit 11).
inline constexpr std::uint32_t kZipUtf8NameFlag = 0x0800;
// The directory bit of an entry's external attributes.
inline constexpr std::uint32_t kZipDirectoryAttribute = 0x10;

// An entry name as text: UTF-8 when the entry says so, else the ANSI code
// page, as the file system calls would read it. Empty when the name holds a
// zero byte (a C string would end early and name another file) or does not
// convert cleanly.
std::u16string DecodeEntryName(std::string_view raw_name, bool utf8_flag, xml::XmlCodePageDecoder decoder);

// True for one plain file or folder name that Windows stores as written: not
// empty, not "." or "..", no "\", "/", ":" (drive or stream), wildcard,
// quote, "<", ">", "|" or control character, no trailing dot or blank (which
// Windows drops), and not a device name (CON, NUL, COM1, ... also with an
// extension).
[[nodiscard]] bool IsPlainFileName(std::u16string_view name);

struct ConfinedEntry {
  bool is_folder = false;
  std::u16string relative_path;  // components joined with "\", no trailing "\"

  bool operator==(const ConfinedEntry&) const = default;
};

// The path inside the data folder for an entry, or nullopt to skip it. Both
// "/" and "\" separate components; a name ending in a separator, or with the
// directory attribute, is a folder. Refused: empty names, a leading
// separator (absolute or UNC), empty components, and any component that is
// not a plain file name (see above, which covers "..", drive letters and
// streams).
[[nodiscard]] std::optional<ConfinedEntry> ConfineArchiveEntry(std::u16string_view name, bool directory_attribute);

// Key archives hold a few small certificate and key files. These bounds are
// far above that and far below what would hurt the client.
struct ArchiveLimits {
  std::uint64_t max_entry_bytes = 4u << 20;   // 4 MiB per file
  std::uint64_t max_total_bytes = 16u << 20;  // 16 MiB for the archive
  std::uint32_t max_entries = 256;            // entries looked at, skipped ones included
};

// Keeps count while an archive is unpacked. Ask before each entry and before
// allocating for a file; a refused file is skipped, a refused entry ends the
// unpacking.
class ExtractionBudget {
 public:
  explicit ExtractionBudget(ArchiveLimits limits = {}) : limits_(limits) {}

  [[nodiscard]] bool AdmitEntry();
  // Counts the size against the total when admitted.
  [[nodiscard]] bool AdmitFile(std::uint64_t uncompressed_size);

  std::uint64_t TotalBytes() const { return total_bytes_; }

 private:
  ArchiveLimits limits_;
  std::uint64_t total_bytes_ = 0;
  std::uint32_t entries_ = 0;
};

}  // namespace veltrona::config
