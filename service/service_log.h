// The service's diagnostic log. Plain lines without time stamps; a run of
// identical lines is folded into one notice and a count, because the route
// guard logs the same line every ten seconds for as long as a tunnel is up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace veltrona::service {

// Where the log's bytes go. Each call is one whole write.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void WriteAll(std::string_view bytes) = 0;
};

class ServiceLog {
 public:
  // A closed log: every write is dropped.
  ServiceLog() = default;
  // An open log writing to `sink`; a null sink gives a closed log.
  explicit ServiceLog(std::unique_ptr<LogSink> sink);

  ServiceLog(ServiceLog&&) noexcept = default;
  ServiceLog& operator=(ServiceLog&&) noexcept = default;

  [[nodiscard]] bool IsOpen() const { return sink_ != nullptr; }

  // Emits the pending text, the message and CR LF as one line.
  void Write(std::string_view message);
  // Emits the message followed by CR LF, "HRESULT 0x" and the code as eight
  // lower-case hexadecimal digits. The code is whatever the caller has: a
  // last-error code or a registry status.
  void WriteCode(std::string_view message, uint32_t code);

  // Build a composite line, then emit it with Write("").
  void Append(std::string_view text);
  void AppendNumber(int32_t value);
  void AppendCode(uint32_t code);

  // A run still being folded is not summed up at close.
  void Close();

 private:
  void Emit(std::string_view message);

  std::unique_ptr<LogSink> sink_;
  std::string last_line_;
  std::string pending_;
  bool suppressed_ = false;
  int32_t repeat_count_ = 0;
};

// "\r\nHRESULT 0x" and the code as eight lower-case hexadecimal digits.
std::string CodeSuffix(uint32_t code);

}  // namespace veltrona::service
