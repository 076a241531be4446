#pragma once

namespace veltrona::service {

// The service's working routine, run on the service thread by ServiceMain;
// returns when the service stops.
void RunWorker();

}  // namespace veltrona::service
