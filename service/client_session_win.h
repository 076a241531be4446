// The client's MSG_SET_PATH, taken or refused. The folder it names must be
// terminated, well formed, the sending user's own data folder and reached
// without a link; the sender, its process and its account must be known; and
// the service must not be busy for another user. What is taken becomes the
// client's session: the paths, the sender's token, its process and account.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "service/command_pipe_win.h"
#include "service/data_folder.h"
#include "service/service_log.h"

namespace veltrona::service {

// What OpenVPN is started with: the paths, and who sent them.
struct ClientSession {
  DataFolderPaths paths;
  UniqueKernelHandle token;  // the sender's impersonation token
};

struct AcceptedPaths {
  ClientSession client;
  UniqueProcess sender;        // the process that sent the message
  std::vector<BYTE> user_sid;  // the sender's account
};

// Why the service cannot take paths from `user_sid` now (it serves another
// user), or nullopt when it can.
using BusyForOtherUser = std::function<std::optional<std::string>(const std::vector<BYTE>& user_sid)>;

// The paths of `message`, or nullopt after logging "MSG_SET_PATH refused: ..."
// with the reason.
[[nodiscard]] std::optional<AcceptedPaths> AcceptSetPath(const PipeMessage& message, ServiceLog& log,
                                                         const BusyForOtherUser& busy_for_other_user);

}  // namespace veltrona::service
