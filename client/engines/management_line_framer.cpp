#include "client/engines/management_line_framer.h"

namespace veltrona::engines {

void ManagementLineFramer::Reset() {
  partial_.clear();
  discarding_ = false;
  discarded_first_ = '\0';
}

bool ManagementLineFramer::EndLine(const LineSink& sink) {
  if (discarding_) {
    const char first = discarded_first_;
    discarding_ = false;
    discarded_first_ = '\0';
    return sink(std::string_view(&first, 1), true);
  }
  std::string line;
  line.swap(partial_);
  // OpenVPN ends its lines in CR LF; a bare LF is taken as well, and then no
  // character of the text is lost.
  if (!line.empty() && line.back() == '\r') line.pop_back();
  // A lone LF (or CR LF) is no notification and no reply.
  if (line.empty()) return true;
  return sink(line, false);
}

void ManagementLineFramer::Feed(std::string_view bytes, const LineSink& sink) {
  while (!bytes.empty()) {
    const size_t lf = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, lf);
    if (!discarding_) {
      // Room for the text before the LF: one byte of the limit is the LF.
      const size_t room = kMaxManagementLineBytes - 1 - partial_.size();
      if (piece.size() <= room) {
        partial_.append(piece);
      } else {
        discarded_first_ = partial_.empty() ? piece.front() : partial_.front();
        discarding_ = true;
        partial_.clear();
      }
    }
    if (lf == std::string_view::npos) return;
    bytes.remove_prefix(lf + 1);
    if (!EndLine(sink)) return;
  }
}

}  // namespace veltrona::engines
