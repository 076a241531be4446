// The contract between the client and the service: the names of the command
// pipe and the kernel objects both sides open, the message codes and the
// byte layout of each message. Nothing flows back over the pipe; the service
// answers with events.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace veltrona::ipc {

inline constexpr char16_t kPipeName[] = u"\\\\.\\pipe\\VeltronaVPNCommunication";
// Set by the service once the paths of a MSG_SET_PATH are stored.
inline constexpr char16_t kSyncEventName[] = u"Global\\VTOpenVPNSync";
// Set by the client to have the service start OpenVPN.
inline constexpr char16_t kOpenEventName[] = u"Global\\VTOpenVPNOpen";
// Created by OpenVPN from its --service option; setting it makes OpenVPN exit.
inline constexpr char16_t kExitEventName[] = u"Global\\VTOpenVPNExit";
// Held by the client for its whole life.
inline constexpr char16_t kClientMutexName[] = u"Global\\VeltronaIsOpened";

inline constexpr uint32_t MSG_SET_PATH = 1;
inline constexpr uint32_t MSG_CHECK_ROUTES = 3;

inline constexpr size_t kMessageCodeSize = 4;
// The data folder field of MSG_SET_PATH: 260 UTF-16 code units.
inline constexpr size_t kPathFieldChars = 260;
inline constexpr size_t kSetPathPayloadSize = kPathFieldChars * 2;
inline constexpr size_t kSetPathMessageSize = kMessageCodeSize + kSetPathPayloadSize;

// The service derives "<folder>\Veltrona.ovpn" from the folder, and that must
// fit a 260-character path with its terminator.
inline constexpr size_t kMaxDataFolderChars = 245;

inline constexpr uint32_t kPipeBufferSize = 780;
inline constexpr uint16_t kManagementPort = 13247;

// How long the service waits for the parts of a message, in milliseconds. A
// client writes its message as soon as it has the pipe; one that says nothing
// loses its pipe instance after a second.
inline constexpr uint32_t kCodeReadTimeoutMs = 1000;
inline constexpr uint32_t kPayloadReadTimeoutMs = 1000;
// How long a sender waits for the pipe while the service is busy with
// another message.
inline constexpr uint32_t kPipeBusyWaitMs = 3000;
// How long the client waits for the service to acknowledge MSG_SET_PATH. The
// client waits on its window thread, so this stays a few seconds: the service
// answers in milliseconds when it works at all.
inline constexpr uint32_t kSyncWaitTimeoutMs = 5000;

using MessageCodeBytes = std::array<uint8_t, kMessageCodeSize>;
using SetPathPayload = std::array<uint8_t, kSetPathPayloadSize>;

MessageCodeBytes EncodeMessageCode(uint32_t code);
uint32_t DecodeMessageCode(std::span<const uint8_t, kMessageCodeSize> bytes);

// The folder as UTF-16LE, NUL-terminated, the rest of the field zeroed. A
// trailing backslash is dropped. Refuses an empty folder, one with a NUL in
// it, and one longer than the service accepts.
[[nodiscard]] std::optional<SetPathPayload> EncodeSetPathPayload(std::u16string_view data_folder);

// The folder text up to its terminator. Refuses a field without a terminator.
[[nodiscard]] std::optional<std::u16string> DecodeSetPathPayload(std::span<const uint8_t, kSetPathPayloadSize> payload);

}  // namespace veltrona::ipc
