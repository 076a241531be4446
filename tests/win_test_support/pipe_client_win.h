// The client's side of the command pipe and events, done by hand, the way a
// test (or another local program) can do it without the client's senders.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace veltrona::test_support {

// Opens the service's pipe as a client would and writes `parts` one by one;
// returns how many were written.
size_t WriteToPipe(const std::vector<std::string>& parts, DWORD pause_ms = 0);

std::string CodeBytes(uint32_t code);
std::string SetPathBytes(const std::wstring& folder);

bool SyncEventIsSet();
bool WaitForSyncEvent(DWORD timeout_ms);
// Sets the open event, as anyone on the machine may.
bool SetOpenEvent();

}  // namespace veltrona::test_support
