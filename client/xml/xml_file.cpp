#include "client/xml/xml_file.h"

// The shipped Windows program reads through XmlReadFileWindows alone; the
// portable reader's streams and paths would bring the C++ library's locale
// and file-system code into it, so it is built where it is used.
#ifndef _WIN32
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>
#endif

namespace veltrona::xml {

#ifndef _WIN32
namespace {

std::u16string Widen(const std::string& ascii) {
  // System messages from the C library are ASCII in the locales we run in;
  // other bytes are kept as Latin-1 rather than dropped.
  std::u16string out;
  out.reserve(ascii.size());
  for (const char c : ascii) out.push_back(static_cast<unsigned char>(c));
  return out;
}

XmlFileStatus Failure(int error) {
  XmlFileStatus status;
  if (error == 0) error = EIO;
  status.errorCode = static_cast<std::uint32_t>(error);
  status.errorText = XmlFirstLine(Widen(std::generic_category().message(error)));
  return status;
}

}  // namespace
#endif

std::u16string XmlFirstLine(std::u16string text) {
  const std::size_t cut = text.find_first_of(u"\r\n");
  if (cut != std::u16string::npos) text.resize(cut);
  return text;
}

#ifndef _WIN32
XmlFileStatus XmlReadFilePortable(const std::u16string& path, XmlFileSink& sink) {
  try {
    errno = 0;
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in) return Failure(errno != 0 ? errno : ENOENT);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) return Failure(errno);
    if (static_cast<unsigned long long>(size) > XML_MAX_TEXT_LENGTH) return Failure(EFBIG);
    in.seekg(0, std::ios::beg);
    const auto total = static_cast<std::size_t>(size);
    if (!sink.Begin(total)) return Failure(ENOMEM);
    std::size_t done = 0;
    while (done < total) {
      const std::span<char> room = sink.Room();
      const std::size_t want = std::min(room.size(), total - done);
      errno = 0;
      in.read(room.data(), static_cast<std::streamsize>(want));
      const auto got = static_cast<std::size_t>(in.gcount());
      if (got > 0 && !sink.Filled(got)) return Failure(ENOMEM);
      done += got;
      if (!in) {
        if (in.eof()) {
          in.clear();  // the file shrank while we read it: not a failure
          break;
        }
        return Failure(errno);
      }
    }
    XmlFileStatus status;
    status.ok = true;
    in.close();
    if (in.fail()) {
      status.closeFailed = true;
      status.closeCode = EIO;
      status.closeText = XmlFirstLine(Widen(std::generic_category().message(EIO)));
    }
    return status;
  } catch (const std::exception&) {
    // A path that cannot be converted, or memory exhaustion.
    return Failure(EINVAL);
  }
}
#endif

XmlFileReader XmlDefaultFileReader() {
#ifdef _WIN32
  return &XmlReadFileWindows;
#else
  return &XmlReadFilePortable;
#endif
}

}  // namespace veltrona::xml
