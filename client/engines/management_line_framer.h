// Cuts the bytes that OpenVPN's management interface sends into lines,
// however the socket segments them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace veltrona::engines {

// A line, its LF included, holds at most this many bytes; longer ones are
// dropped whole (up to their LF) and the connection is kept.
inline constexpr size_t kMaxManagementLineBytes = 1024;

class ManagementLineFramer {
 public:
  // `text` is the line without its line ending. `cut` is set for a line that
  // was too long: its text is then only the first byte, enough to tell a
  // notification ('>') from a reply, and nothing else of it is kept.
  using LineSink = std::function<bool(std::string_view text, bool cut)>;

  // Feeds received bytes; calls `sink` once per complete, non-empty line. A
  // sink that returns false stops the feed: the rest of `bytes` is dropped
  // (the session ended on that line).
  void Feed(std::string_view bytes, const LineSink& sink);

  // Forgets a partial line (a new connection starts).
  void Reset();

  // Bytes of an unfinished line held back; never more than the limit.
  size_t buffered() const { return partial_.size(); }

 private:
  [[nodiscard]] bool EndLine(const LineSink& sink);

  std::string partial_;
  bool discarding_ = false;
  char discarded_first_ = '\0';
};

}  // namespace veltrona::engines
