#include "ipc/protocol.h"

namespace veltrona::ipc {

MessageCodeBytes EncodeMessageCode(uint32_t code) {
  return {static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code >> 16),
          static_cast<uint8_t>(code >> 24)};
}

uint32_t DecodeMessageCode(std::span<const uint8_t, kMessageCodeSize> bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

std::optional<SetPathPayload> EncodeSetPathPayload(std::u16string_view data_folder) {
  if (!data_folder.empty() && data_folder.back() == u'\\') data_folder.remove_suffix(1);
  if (data_folder.empty() || data_folder.size() > kMaxDataFolderChars ||
      data_folder.find(u'\0') != std::u16string_view::npos) {
    return std::nullopt;
  }
  SetPathPayload payload{};
  for (size_t i = 0; i < data_folder.size(); ++i) {
    payload[2 * i] = static_cast<uint8_t>(data_folder[i] & 0xFF);
    payload[2 * i + 1] = static_cast<uint8_t>(data_folder[i] >> 8);
  }
  return payload;
}

std::optional<std::u16string> DecodeSetPathPayload(std::span<const uint8_t, kSetPathPayloadSize> payload) {
  std::u16string folder;
  for (size_t i = 0; i < kPathFieldChars; ++i) {
    const auto unit = static_cast<char16_t>(payload[2 * i] | payload[2 * i + 1] << 8);
    if (unit == u'\0') return folder;
    folder += unit;
  }
  return std::nullopt;
}

}  // namespace veltrona::ipc
