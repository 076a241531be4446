// How OpenVPN's management interface cuts what a client sends into lines and
// words. The stand-in must accept and refuse exactly what OpenVPN 2.6 does, so
// that a client which quotes its values wrongly fails here as it would there.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::standin {

// OpenVPN keeps only printable bytes and LF in a buffer of 1024 bytes and
// empties the buffer when a byte does not fit, so an over-long line is lost
// and only its tail is read as a line of its own. CR, TAB and NUL are dropped.
class ManagementLineBuffer {
 public:
  static constexpr size_t kCapacity = 1024;

  void Add(std::string_view bytes) {
    for (const char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte != '\n' && (byte < 0x20 || byte == 0x7F)) continue;
      if (buffer_.size() >= kCapacity) {
        buffer_.clear();
        continue;
      }
      buffer_.push_back(c);
    }
  }

  std::optional<std::string> NextLine() {
    const size_t end = buffer_.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return line;
  }

 private:
  std::string buffer_;
};

struct ParsedCommand {
  std::vector<std::string> words;
  std::string error;  // the reply text after "ERROR: " when the line is refused
};

// Words are separated by blanks; "..." and '...' enclose blanks; outside
// single quotes a backslash passes the next backslash, double quote or blank
// literally and refuses anything else; '#' or ';' at the start of a word ends
// the line. A word may hold 256 characters; OpenVPN takes 16 words at most.
inline ParsedCommand ParseCommand(std::string_view line) {
  constexpr size_t kMaxWord = 256;
  constexpr size_t kMaxWords = 16;
  enum State { kInitial = 0, kQuoted = 1, kUnquoted = 2, kSingleQuoted = 4 };
  auto is_space = [](char c) {
    return c == '\0' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  };

  ParsedCommand result;
  std::string word;
  State state = kInitial;
  bool backslash = false;
  // One extra NUL at the end, as OpenVPN's loop sees the terminator: it ends a
  // bare word, but not a word whose last character is an unpaired backslash.
  for (size_t i = 0; i <= line.size(); ++i) {
    const char c = i < line.size() ? line[i] : '\0';
    if (!backslash && c == '\\' && state != kSingleQuoted) {
      backslash = true;
      continue;
    }
    if (backslash && !(c == '\\' || c == '"' || is_space(c))) {
      result.words.clear();
      result.error =
          "Options warning: Bad backslash ('\\') usage in TCP:0: remember that backslashes are treated as "
          "shell-escapes and if you need to pass backslash characters as part of a Windows filename, you "
          "should use double backslashes such as \"c:\\\\openvpn\\\\static.key\"";
      return result;
    }
    bool done = false;
    switch (state) {
      case kInitial:
        if (is_space(c)) break;
        if (!backslash && (c == '#' || c == ';')) {
          i = line.size();  // a comment: nothing after it counts
          break;
        }
        if (!backslash && c == '"') {
          state = kQuoted;
        } else if (!backslash && c == '\'') {
          state = kSingleQuoted;
        } else {
          word.assign(1, c);
          state = kUnquoted;
        }
        break;
      case kUnquoted:
        if (!backslash && is_space(c)) {
          done = true;
        } else {
          word.push_back(c);
        }
        break;
      case kQuoted:
        if (!backslash && c == '"') {
          done = true;
        } else {
          word.push_back(c);
        }
        break;
      case kSingleQuoted:
        if (c == '\'') {
          done = true;
        } else {
          word.push_back(c);
        }
        break;
    }
    backslash = false;
    if (word.size() > kMaxWord) {
      result.words.clear();
      // OpenVPN shows the word as far as its buffer holds it, one short of the limit.
      result.error = "Options error: Parameter at TCP:0 is too long (256 chars max): " + word.substr(0, kMaxWord - 1);
      return result;
    }
    if (done) {
      if (result.words.size() < kMaxWords) result.words.push_back(word);
      word.clear();
      state = kInitial;
    }
  }
  if (state == kQuoted || state == kSingleQuoted) {
    result.words.clear();
    result.error = state == kQuoted ? "Options error: No closing quotation (\") in TCP:0"
                                    : "Options error: No closing single quotation (') in TCP:0";
  } else if (state != kInitial) {
    result.words.clear();
    result.error = "Options error: Residual parse state (" + std::to_string(static_cast<int>(state)) + ") in TCP:0";
  }
  return result;
}

}  // namespace veltrona::standin
