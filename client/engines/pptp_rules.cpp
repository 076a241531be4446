#include "client/engines/pptp_rules.h"

#include "client/engines/management_text.h"

namespace veltrona::engines {
namespace {

// RASENTRYW has no pointers: the same on 32 and 64 bits.
constexpr uint32_t kEntrySizes[] = {5616, 5656, 5680};
// RASDIALPARAMSW (packed to 4): XP and Vista end at dwCallbackId, 7 adds
// dwIfIndex.
constexpr uint32_t kDialParamsSizes32[] = {2104, 2104, 2108};
constexpr uint32_t kDialParamsSizes64[] = {2108, 2108, 2112};

std::u16string LimitText(std::u16string_view what, size_t limit) {
  std::u16string text = u"The ";
  text += what;
  text += u" is too long: at most ";
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + limit % 10));
    limit /= 10;
  } while (limit != 0);
  text += digits;
  text += u" characters.";
  return text;
}

}  // namespace

std::optional<int32_t> OsClassOf(uint32_t major, uint32_t minor) {
  if (major < 5 || (major == 5 && minor == 0)) return std::nullopt;
  if (major == 5) return kOsClassXp;
  // Windows 10 and 11 report 10.0 to a program that declares them.
  if (major == 6 && minor == 0) return kOsClassVista;
  return kOsClassWin7;
}

RasStructureSizes RasSizesFor(int32_t os_class, size_t pointer_bytes) {
  if (os_class < kOsClassXp || os_class > kOsClassWin7) return {};
  const auto index = static_cast<size_t>(os_class);
  return {kEntrySizes[index], pointer_bytes == 8 ? kDialParamsSizes64[index] : kDialParamsSizes32[index]};
}

RasEventOutcome OutcomeOfRasEvent(uint32_t connection_state, int32_t error_code) {
  RasEventOutcome outcome;
  if (error_code != 0) {
    outcome.failed = true;
    outcome.state = ENGINE_DISCONNECTED;
    outcome.result = 1;
    return outcome;
  }
  switch (connection_state) {
    case kRasConnectDevice:
      outcome.state = ENGINE_CONNECTING;
      break;
    case kRasConnected:
      outcome.state = ENGINE_CONNECTED;
      break;
    case kRasDisconnected:
      outcome.state = ENGINE_DISCONNECTED;
      break;
    default:
      break;
  }
  return outcome;
}

StatisticsTexts PptpStatisticsTexts(EngineState state, bool query_succeeded, uint32_t bytes_received,
                                    uint32_t bytes_sent) {
  if (state != ENGINE_CONNECTED || !query_succeeded) return {ByteCountText(0), ByteCountText(0)};
  // RAS counts in 32 unsigned bits; shown as such, never negative.
  return {ByteCountText(bytes_received), ByteCountText(bytes_sent)};
}

std::optional<std::u16string> DialTextProblem(std::u16string_view server, std::u16string_view vpn_id,
                                              std::u16string_view activation_code) {
  if (server.size() > kRasMaxPhoneNumber) return LimitText(u"server name", kRasMaxPhoneNumber);
  if (vpn_id.size() > kRasMaxUserName) return LimitText(u"VPN ID", kRasMaxUserName);
  if (activation_code.size() > kRasMaxPassword) return LimitText(u"Activation Code", kRasMaxPassword);
  return std::nullopt;
}

std::optional<std::u16string> PhonebookPathIn(std::u16string_view app_data_folder) {
  std::u16string path(app_data_folder);
  path += kPhonebookSubPath;
  path += kPhonebookFileName;
  if (path.size() > kMaxPathChars) return std::nullopt;
  return path;
}

std::optional<std::u16string> PropertiesParameters(std::u16string_view phonebook, std::u16string_view entry) {
  std::u16string parameters = u"-f \"";
  parameters += phonebook;
  parameters += u"\" -e \"";
  parameters += entry;
  parameters += u"\"";
  if (parameters.size() > kMaxPathChars) return std::nullopt;
  return parameters;
}

}  // namespace veltrona::engines
