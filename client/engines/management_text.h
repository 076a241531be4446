// The texts of the OpenVPN management dialogue: the commands the client
// sends, the state names it acts on and the numbers it reads back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrona::engines {

// A command line the client sends, its LF not counted, has at most this many
// characters, so that with the LF it fits OpenVPN's 1024-byte line buffer.
inline constexpr size_t kMaxCommandChars = 1023;

// `keyword "Auth" "value"`, the value quoted as OpenVPN's command parser
// expects: `\` and `"` escaped. Control bytes are left out: OpenVPN drops
// them from the line anyway, and an LF would end the command early and let
// the rest of the value be read as a command of its own. A value too long
// for kMaxCommandChars is cut, never inside an escape, and the closing quote
// is kept.
std::string AuthCommand(std::string_view keyword, std::string_view value);

// What the client does for one OpenVPN state name.
enum class StateAction {
  kConnected,     // the tunnel is up
  kReconnecting,  // OpenVPN restarts: the attempt is over
  kExiting,       // OpenVPN ends: the attempt is over
  kProgress,      // shows a progress text
  kOther,         // nothing beyond remembering the name
};

struct StateMeaning {
  StateAction action = StateAction::kOther;
  std::u16string_view progress_text;  // for kProgress
  bool remembered = true;             // stored as the last state name
};

// Exact, case-sensitive match of the whole name.
StateMeaning MeaningOfState(std::string_view name);

// The state name of a ">STATE:" text ("time,name,description,..."); none
// when the text has fewer than three commas.
[[nodiscard]] std::optional<std::string_view> StateNameOf(std::string_view state_text);

// The count right after `label` in `line` (leading blanks and a sign
// allowed, up to the first non-digit; 0 without digits); none when `label`
// is not in the line. Saturates instead of overflowing.
[[nodiscard]] std::optional<int64_t> CounterAfter(std::string_view line, std::string_view label);

// "%d bytes" of a byte count, for the statistics controls.
std::u16string ByteCountText(int64_t bytes);

}  // namespace veltrona::engines
