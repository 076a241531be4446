// Reading a whole file for the XML reader, with the system's error on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltrona::xml {

// Largest file or text the reader takes: offsets in the element index are 32-bit.
constexpr std::size_t XML_MAX_TEXT_LENGTH = 0x7FFFFFFF;

struct XmlFileStatus {
  bool ok = false;  // opened and read completely
  std::uint32_t errorCode = 0;
  std::u16string errorText;  // first line of the system's message
  bool closeFailed = false;
  std::uint32_t closeCode = 0;
  std::u16string closeText;
};

using XmlFileReader = XmlFileStatus (*)(const std::u16string& path, std::string& bytes);

#ifndef _WIN32
// Standard library streams; error numbers are errno values.
[[nodiscard]] XmlFileStatus XmlReadFilePortable(const std::u16string& path, std::string& bytes);
#else
// CreateFileW/ReadFile; error numbers are GetLastError() values.
[[nodiscard]] XmlFileStatus XmlReadFileWindows(const std::u16string& path, std::string& bytes);
#endif

XmlFileReader XmlDefaultFileReader();

// Keeps the text up to its first line break.
std::u16string XmlFirstLine(std::u16string text);

}  // namespace veltrona::xml
