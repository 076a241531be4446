#include "client/support/diagnostics_text.h"

#include <utility>

namespace veltrona::support {

namespace {

std::string Hex(std::uint32_t value) {
  std::string digits;
  do {
    const std::uint32_t nibble = value & 0xF;
    digits.insert(digits.begin(), static_cast<char>(nibble < 10 ? '0' + nibble : 'a' + (nibble - 10)));
    value >>= 4;
  } while (value != 0);
  return "0x" + digits;
}

void AppendStep(std::string& text, const StepOutcome& step) {
  if (step.failed) {
    text += ErrorBlock(step.message, step.code, step.system_text);
  } else {
    text += FileText(step.text);
  }
}

}  // namespace

StepOutcome StepOutcome::Text(std::string text) {
  StepOutcome outcome;
  outcome.text = std::move(text);
  return outcome;
}

StepOutcome StepOutcome::Failure(std::string_view message, std::uint32_t code, std::string system_text) {
  StepOutcome outcome;
  outcome.failed = true;
  outcome.message = message;
  outcome.code = code;
  outcome.system_text = std::move(system_text);
  return outcome;
}

std::string_view ArchitectureName(std::uint16_t architecture) {
  switch (architecture) {
    case 0:
      return "x86";
    case 5:
      return "ARM";
    case 6:
      return "IA64";
    case 9:
      return "x64";
    default:
      return "unknown architecture";
  }
}

std::string ErrorBlock(std::string_view message, std::uint32_t code, std::string_view system_text) {
  std::string block(message);
  block += Hex(code);
  block += "\r\n";
  block += system_text.substr(0, kSystemTextChars);
  block += "\r\n";
  return block;
}

std::string FileText(std::string_view bytes) { return std::string(bytes.substr(0, bytes.find('\0'))); }

std::string CutNotice(std::uint64_t skipped) {
  return "[the first " + std::to_string(skipped) + " bytes of this file are left out]\r\n";
}

std::string BuildDiagnosticsText(const DiagnosticsPieces& pieces) {
  std::string text = pieces.time;
  text += "\r\nVeltrona VPN Free Trial client ver 3.2rc1\r\n";
  text += "Windows version " + std::to_string(pieces.major_version) + "." + std::to_string(pieces.minor_version) +
          " build " + std::to_string(pieces.build_number) + " " + pieces.service_pack + " ";
  text += ArchitectureName(pieces.architecture);
  text += "\r\n\r\nIPCONFIG:\r\n";
  AppendStep(text, pieces.ipconfig);
  text += "\r\n\r\nROUTE PRINT:\r\n";
  AppendStep(text, pieces.route_print);
  text += "\r\nOPENVPN LOG:\r\n\r\n";
  AppendStep(text, pieces.openvpn_log);
  text += "\r\nSERVICE LOG:\r\n\r\n";
  AppendStep(text, pieces.service_log);
  return text;
}

}  // namespace veltrona::support
