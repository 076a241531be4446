// What the PPTP engine decides without touching RAS: which structure sizes
// this Windows takes, what a RAS progress report does to the engine, the
// statistics texts, and which texts fit RAS's fixed fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "client/engines/engine_state.h"

namespace veltrona::engines {

// The Windows version class that picks the RAS structure sizes; none before
// XP, where the engine does not dial.
inline constexpr int32_t kOsClassXp = 0;      // 5.1 and 5.2
inline constexpr int32_t kOsClassVista = 1;   // 6.0
inline constexpr int32_t kOsClassWin7 = 2;    // 6.1 and everything later, Windows 10 and 11 included
[[nodiscard]] std::optional<int32_t> OsClassOf(uint32_t major, uint32_t minor);

struct RasStructureSizes {
  uint32_t entry = 0;        // RASENTRYW
  uint32_t dial_params = 0;  // RASDIALPARAMSW
};
// RASDIALPARAMSW ends in a pointer-sized field, so its size depends on
// whether the program is 32 or 64 bits (`pointer_bytes`).
RasStructureSizes RasSizesFor(int32_t os_class, size_t pointer_bytes);

inline constexpr uint32_t kRasConnectDevice = 2;       // RASCS_ConnectDevice
inline constexpr uint32_t kRasConnected = 0x2000;      // RASCS_Connected
inline constexpr uint32_t kRasDisconnected = 0x2001;   // RASCS_Disconnected

struct RasEventOutcome {
  // An error report: restore the proxy if saved, hang up, refresh, message.
  bool failed = false;
  // The new state, followed by a refresh; none leaves everything as it is.
  std::optional<EngineState> state;
  int result = 0;  // what OnEvent returns
};
RasEventOutcome OutcomeOfRasEvent(uint32_t connection_state, int32_t error_code);

// The two statistics texts: the counts in the connected state (a failed
// query counts 0), "0 bytes" otherwise.
struct StatisticsTexts {
  std::u16string received;
  std::u16string sent;
};
StatisticsTexts PptpStatisticsTexts(EngineState state, bool query_succeeded, uint32_t bytes_received,
                                    uint32_t bytes_sent);

// RAS's field capacities, terminator not counted.
inline constexpr size_t kRasMaxPhoneNumber = 128;
inline constexpr size_t kRasMaxUserName = 256;
inline constexpr size_t kRasMaxPassword = 256;
// Paths and the properties program's parameters: 260 with the terminator.
inline constexpr size_t kMaxPathChars = 259;

// The message for a dial text that does not fit its field; none when all fit.
[[nodiscard]] std::optional<std::u16string> DialTextProblem(std::u16string_view server, std::u16string_view vpn_id,
                                                            std::u16string_view activation_code);

inline constexpr std::u16string_view kPptpEntryName = u"Veltrona VPN Connection";
inline constexpr std::u16string_view kPhonebookSubPath = u"\\Microsoft\\Network\\Connections\\";
inline constexpr std::u16string_view kPhonebookFileName = u"VeltronaVPN.pbk";

// The application-data folder plus the phonebook's place in it; none when
// the whole does not fit kMaxPathChars.
[[nodiscard]] std::optional<std::u16string> PhonebookPathIn(std::u16string_view app_data_folder);
// `-f "<phonebook>" -e "<entry>"` for rasphone.exe; none when it does not
// fit kMaxPathChars.
[[nodiscard]]
std::optional<std::u16string> PropertiesParameters(std::u16string_view phonebook, std::u16string_view entry);

inline constexpr std::u16string_view kOldWindowsMessage =
    u"Veltrona VPN needs Windows XP or later for a PPTP connection.";
inline constexpr std::u16string_view kLongPhonebookPathMessage =
    u"The PPTP connection cannot be set up: the path of its phonebook is longer than 259 characters.";
inline constexpr std::u16string_view kLongPropertiesMessage =
    u"The properties of the PPTP connection cannot be opened: the path of its phonebook is too long.";

}  // namespace veltrona::engines
