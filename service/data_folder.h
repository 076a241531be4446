// The client's data folder as the service receives it, and the paths the
// service derives from it. The text comes from whoever writes to the pipe,
// so it is checked before anything is derived from it.
#pragma once

#include <string>
#include <string_view>

namespace veltrona::service {

struct DataFolderPaths {
  std::u16string folder;       // OpenVPN's working directory
  std::u16string output_path;  // "<folder>\log.txt", OpenVPN's output
  std::u16string config_path;  // "<folder>\Veltrona.ovpn"
};

// An empty result accepts the text (one trailing backslash aside) as a plain
// absolute local folder ("X:\..."
// without "." or ".." components, empty components, device or UNC forms,
// stream names or wildcard characters) short enough for the derived paths;
// otherwise the reason for refusing it.
std::string CheckDataFolderText(std::u16string_view folder);

// The three paths, for a folder that passed the check.
DataFolderPaths DerivePaths(std::u16string_view folder);

// Compares two folder texts as the file system does for ASCII letters,
// ignoring one trailing backslash.
[[nodiscard]] bool SameFolderText(std::u16string_view a, std::u16string_view b);

}  // namespace veltrona::service
