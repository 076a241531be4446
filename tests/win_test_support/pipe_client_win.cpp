#include "tests/win_test_support/pipe_client_win.h"

#include "base/unique_handle_win.h"
#include "ipc/protocol.h"

namespace veltrona::test_support {

size_t WriteToPipe(const std::vector<std::string>& parts, DWORD pause_ms) {
  UniquePipe pipe;
  for (int attempt = 0; attempt < 100 && !pipe; ++attempt) {
    pipe.Reset(::CreateFileW(L"\\\\.\\pipe\\VeltronaVPNCommunication", FILE_WRITE_DATA | SYNCHRONIZE, 0, nullptr,
                             OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IMPERSONATION, nullptr));
    if (!pipe) ::Sleep(20);  // every instance may be busy for a moment
  }
  size_t count = 0;
  for (size_t i = 0; pipe && i < parts.size(); ++i, ++count) {
    if (i != 0 && pause_ms != 0) ::Sleep(pause_ms);
    DWORD written = 0;
    if (!::WriteFile(pipe.Get(), parts[i].data(), static_cast<DWORD>(parts[i].size()), &written, nullptr)) break;
  }
  return count;
}

std::string CodeBytes(uint32_t code) {
  const auto bytes = ipc::EncodeMessageCode(code);
  return std::string(bytes.begin(), bytes.end());
}

std::string SetPathBytes(const std::wstring& folder) {
  const auto payload = ipc::EncodeSetPathPayload(std::u16string(folder.begin(), folder.end()));
  return std::string(payload->begin(), payload->end());
}

bool WaitForSyncEvent(DWORD timeout_ms) {
  UniqueEvent sync(::OpenEventW(SYNCHRONIZE, FALSE, L"Global\\VTOpenVPNSync"));
  return sync && ::WaitForSingleObject(sync.Get(), timeout_ms) == WAIT_OBJECT_0;
}

bool SyncEventIsSet() { return WaitForSyncEvent(0); }

bool SetOpenEvent() {
  UniqueEvent open(::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Global\\VTOpenVPNOpen"));
  return open && ::SetEvent(open.Get());
}

}  // namespace veltrona::test_support
