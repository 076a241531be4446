#include "service/service_log.h"

#include <cstdio>

namespace veltrona::service {

namespace {
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kFirstRepeatNotice = "Message repetitions suppressed\r\n";
// The formatted message and code of WriteCode never exceed this many bytes.
constexpr size_t kMaxCodeLineChars = 1023;
}  // namespace

std::string CodeSuffix(uint32_t code) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(code));
  return std::string("\r\nHRESULT 0x") + digits;
}

ServiceLog::ServiceLog(std::unique_ptr<LogSink> sink) : sink_(std::move(sink)) {}

void ServiceLog::Write(std::string_view message) { Emit(message); }

void ServiceLog::WriteCode(std::string_view message, uint32_t code) {
  std::string text(message);
  text += CodeSuffix(code);
  if (text.size() > kMaxCodeLineChars) text.resize(kMaxCodeLineChars);
  Emit(text);
}

void ServiceLog::Append(std::string_view text) { pending_ += text; }

void ServiceLog::AppendNumber(int32_t value) { pending_ += std::to_string(value); }

void ServiceLog::AppendCode(uint32_t code) { pending_ += CodeSuffix(code); }

void ServiceLog::Close() { sink_.reset(); }

void ServiceLog::Emit(std::string_view message) {
  std::string line = std::move(pending_);
  pending_.clear();
  line += message;
  line += kLineEnd;
  if (!sink_) return;
  if (line == last_line_) {
    ++repeat_count_;
    if (!suppressed_) {
      sink_->WriteAll(kFirstRepeatNotice);
      suppressed_ = true;
    }
    return;
  }
  if (suppressed_) {
    sink_->WriteAll("Suppressed " + std::to_string(repeat_count_) + " repetitions\r\n");
    repeat_count_ = 0;
    suppressed_ = false;
  }
  sink_->WriteAll(line);
  last_line_ = std::move(line);
}

}  // namespace veltrona::service
