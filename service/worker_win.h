// The service's working routine: the command pipe, the events shared with
// the client, starting and supervising OpenVPN, and the route guard.
#pragma once

#include <windows.h>

namespace veltrona::service {

// Run on the service thread by ServiceMain; returns when the service stops.
void RunWorker();

}  // namespace veltrona::service
