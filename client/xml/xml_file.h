// Reading a whole file for the XML reader, with the system's error on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>

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

// A whole file's bytes. The buffer is not zeroed before the file is read
// into it: a list of many servers is megabytes.
class XmlFileBytes {
 public:
  // Room for `size` bytes, their values unset; false when there is no memory.
  [[nodiscard]] bool Allocate(std::size_t size) {
    data_.reset(new (std::nothrow) char[size == 0 ? 1 : size]);
    size_ = data_ ? size : 0;
    return data_ != nullptr;
  }
  char* Data() { return data_.get(); }
  // Keeps the first `size` bytes (no more than there are).
  void Truncate(std::size_t size) { size_ = size < size_ ? size : size_; }
  std::string_view View() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
};

// Where a file reader puts a file's bytes, a piece at a time and in order,
// so that the taker may decode them as they come instead of holding them all.
class XmlFileSink {
 public:
  virtual ~XmlFileSink() = default;
  // The file's size, before any bytes; false when there is no memory for it.
  [[nodiscard]] virtual bool Begin(std::size_t size) = 0;
  // Room for the next bytes; never empty while fewer than the size have come.
  virtual std::span<char> Room() = 0;
  // `count` bytes (at least one) were read into the start of Room(); false
  // when there is no memory to take them, and the read stops.
  [[nodiscard]] virtual bool Filled(std::size_t count) = 0;
};

// Reads the file at `path` into `sink`: Begin with its size, then its bytes.
// A file that shrinks while it is read ends early; one that grows is read up
// to the size it had.
using XmlFileReader = XmlFileStatus (*)(const std::u16string& path, XmlFileSink& sink);

#ifndef _WIN32
// Standard library streams; error numbers are errno values.
[[nodiscard]] XmlFileStatus XmlReadFilePortable(const std::u16string& path, XmlFileSink& sink);
#else
// CreateFileW/ReadFile; error numbers are GetLastError() values.
[[nodiscard]] XmlFileStatus XmlReadFileWindows(const std::u16string& path, XmlFileSink& sink);
#endif

XmlFileReader XmlDefaultFileReader();

// Keeps the text up to its first line break.
std::u16string XmlFirstLine(std::u16string text);

}  // namespace veltrona::xml
