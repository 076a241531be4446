#include "service/client_session_win.h"

#include "base/known_folders_win.h"
#include "base/wide_text.h"
#include "ipc/protocol.h"
#include "service/security_win.h"

namespace veltrona::service {
namespace {

// The account of `token`'s user as SID bytes; empty when it cannot be read.
std::vector<BYTE> TokenUserSid(HANDLE token) {
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (token == nullptr || !::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
  const auto* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
}

}  // namespace

std::optional<AcceptedPaths> AcceptSetPath(const PipeMessage& message, ServiceLog& log,
                                           const BusyForOtherUser& busy_for_other_user) {
  if (message.payload == nullptr) return std::nullopt;
  const std::optional<std::u16string> folder = ipc::DecodeSetPathPayload(*message.payload);
  if (!folder) {
    log.Write("MSG_SET_PATH refused: the folder is not terminated");
    return std::nullopt;
  }
  if (const std::string reason = CheckDataFolderText(*folder); !reason.empty()) {
    log.Write("MSG_SET_PATH refused: " + reason);
    return std::nullopt;
  }
  DWORD error = 0;
  std::optional<PipeClient> client = IdentifyPipeClient(message.pipe, &error);
  if (!client) {
    log.WriteCode("MSG_SET_PATH refused: the sender cannot be identified", error);
    return std::nullopt;
  }
  const std::u16string expected = ToU16(client->local_app_data) + u"\\" + ToU16(kProductFolderName);
  if (!SameFolderText(*folder, expected)) {
    log.Write("MSG_SET_PATH refused: the folder is not the sender's data folder");
    return std::nullopt;
  }
  const DataFolderPaths paths = DerivePaths(*folder);
  if (PathHasReparsePoint(ToWide(paths.folder))) {
    log.Write("MSG_SET_PATH refused: the folder is reached through a link");
    return std::nullopt;
  }
  ULONG sender_id = 0;
  UniqueProcess sender;
  if (::GetNamedPipeClientProcessId(message.pipe, &sender_id)) {
    sender.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, sender_id));
  }
  if (!sender) {
    log.WriteCode("MSG_SET_PATH refused: the sending process cannot be identified", ::GetLastError());
    return std::nullopt;
  }
  std::vector<BYTE> user_sid = TokenUserSid(client->token.Get());
  if (user_sid.empty()) {
    log.Write("MSG_SET_PATH refused: the sender's account cannot be read");
    return std::nullopt;
  }
  if (const std::optional<std::string> busy = busy_for_other_user(user_sid)) {
    log.Write("MSG_SET_PATH refused: " + *busy);
    return std::nullopt;
  }
  return AcceptedPaths{ClientSession{paths, std::move(client->token)}, std::move(sender), std::move(user_sid)};
}

}  // namespace veltrona::service
