// The problem report's diagnostics text, put together from what the Windows
// side gathered: the header lines, the two commands' output, OpenVPN's output
// and the service log, each either as text or as an error block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltrona::support {

// What one step left: its text, or the failure's message (ending in
// "Error code : "), the system error code and the system's text for it.
struct StepOutcome {
  std::string text;
  bool failed = false;
  std::string_view message;
  std::uint32_t code = 0;
  std::string system_text;

  static StepOutcome Text(std::string text);
  static StepOutcome Failure(std::string_view message, std::uint32_t code, std::string system_text);
};

struct DiagnosticsPieces {
  std::string time;  // the user's time format, no date
  std::uint32_t major_version = 0;
  std::uint32_t minor_version = 0;
  std::uint32_t build_number = 0;
  std::string service_pack;
  std::uint16_t architecture = 0;  // PROCESSOR_ARCHITECTURE_* of the native system
  StepOutcome ipconfig;
  StepOutcome route_print;
  StepOutcome openvpn_log;
  StepOutcome service_log;
};

// Messages of the error blocks.
inline constexpr std::string_view kDeleteTemporaryFailed = "Failed to delete temporary output file\r\nError code : ";
inline constexpr std::string_view kExecuteIpconfigFailed = "Failed to execute ipconfig\r\nError code : ";
inline constexpr std::string_view kExecuteRoutePrintFailed = "Failed to execute route print\r\nError code : ";
inline constexpr std::string_view kOpenTemporaryFailed = "Failed to open temporary output file\r\nError code : ";
inline constexpr std::string_view kReadIpconfigFailed = "Failed to read ipconfig result\r\nError code : ";
inline constexpr std::string_view kReadRoutePrintFailed = "Failed to read route print result\r\nError code : ";
inline constexpr std::string_view kOpenOpenVpnLogFailed = "Cannot open OpenVPN log\r\nError code : ";
inline constexpr std::string_view kReadOpenVpnLogFailed = "Failed to read OpenVPN log\r\nError code : ";
inline constexpr std::string_view kOpenServiceLogFailed = "Cannot open service log\r\nError code : ";
inline constexpr std::string_view kReadServiceLogFailed = "Failed to read service log\r\nError code : ";
// A command that runs past its bound is ended; its block says so.
inline constexpr std::string_view kIpconfigTimedOut =
    "ipconfig did not finish in time and was ended\r\nError code : ";
inline constexpr std::string_view kRoutePrintTimedOut =
    "route print did not finish in time and was ended\r\nError code : ";

// The system's text for an error code is cut to this many characters.
inline constexpr std::size_t kSystemTextChars = 260;
// A log longer than this goes in as its last part, so that one giant log
// cannot make the upload fail; a command's output is bounded the same way.
inline constexpr std::size_t kMaxLogBytes = 3u << 20;
inline constexpr std::size_t kMaxCommandOutputBytes = 256u << 10;

// "x86", "ARM", "IA64", "x64" or "unknown architecture".
std::string_view ArchitectureName(std::uint16_t architecture);

// The message, "0x" and the code in lower-case hexadecimal, CR LF, the
// system's text (at most kSystemTextChars, with its own line end), CR LF.
std::string ErrorBlock(std::string_view message, std::uint32_t code, std::string_view system_text);

// File contents as text: everything before the first NUL byte.
std::string FileText(std::string_view bytes);

// The line put in front of a file's last part when its beginning was left
// out; `skipped` is the number of bytes left out.
std::string CutNotice(std::uint64_t skipped);

// The whole diagnostics text, CR LF line ends.
std::string BuildDiagnosticsText(const DiagnosticsPieces& pieces);

}  // namespace veltrona::support
