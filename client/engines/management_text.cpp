#include "client/engines/management_text.h"

#include <array>
#include <limits>

namespace veltrona::engines {
namespace {

struct StateRow {
  std::string_view name;
  StateMeaning meaning;
};

// OpenVPN 2.6 names its connecting and configuration-download phases
// CONNECTING and GET_CONFIG, and a TCP connection to the server TCP_CONNECT;
// they show the same texts as the older CONNECT and GET_CONNECTING names.
constexpr std::array<StateRow, 12> kStates{{
    {"CONNECTED", {StateAction::kConnected, u"", true}},
    {"RECONNECTING", {StateAction::kReconnecting, u"", false}},
    {"RESOLVE", {StateAction::kProgress, u"resolve IP...", true}},
    {"WAIT", {StateAction::kProgress, u"wait answer...", true}},
    {"AUTH", {StateAction::kProgress, u"authentication...", true}},
    {"CONNECT", {StateAction::kProgress, u"connect...", true}},
    {"CONNECTING", {StateAction::kProgress, u"connect...", true}},
    {"TCP_CONNECT", {StateAction::kProgress, u"connect...", true}},
    {"GET_CONNECTING", {StateAction::kProgress, u"get connection...", true}},
    {"GET_CONFIG", {StateAction::kProgress, u"get connection...", true}},
    {"ASSIGN_IP", {StateAction::kProgress, u"assign IP...", true}},
    {"EXITING", {StateAction::kExiting, u"", false}},
}};

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace

std::string AuthCommand(std::string_view keyword, std::string_view value) {
  std::string command;
  command.reserve(kMaxCommandChars);
  command.append(keyword);
  command.append(" \"Auth\" \"");
  // Room for the value's characters, the closing quote kept back.
  const size_t limit = kMaxCommandChars - 1;
  for (const char c : value) {
    if (IsControl(static_cast<unsigned char>(c))) continue;
    const bool escaped = c == '\\' || c == '"';
    if (command.size() + (escaped ? 2 : 1) > limit) break;
    if (escaped) command.push_back('\\');
    command.push_back(c);
  }
  command.push_back('"');
  return command;
}

StateMeaning MeaningOfState(std::string_view name) {
  for (const StateRow& row : kStates) {
    if (row.name == name) return row.meaning;
  }
  return StateMeaning{};
}

std::optional<std::string_view> StateNameOf(std::string_view state_text) {
  const size_t first = state_text.find(',');
  if (first == std::string_view::npos) return std::nullopt;
  const size_t second = state_text.find(',', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  if (state_text.find(',', second + 1) == std::string_view::npos) return std::nullopt;
  return state_text.substr(first + 1, second - first - 1);
}

std::optional<int64_t> CounterAfter(std::string_view line, std::string_view label) {
  const size_t at = line.find(label);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(at + label.size());
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t value = 0;
  for (const char c : rest) {
    if (c < '0' || c > '9') break;
    const int digit = c - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return negative ? -value : value;
}

std::u16string ByteCountText(int64_t bytes) {
  // Built by hand: no locale, no wide printf that differs between platforms.
  std::u16string digits;
  uint64_t magnitude = bytes < 0 ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (bytes < 0) digits.insert(digits.begin(), u'-');
  return digits + u" bytes";
}

}  // namespace veltrona::engines
