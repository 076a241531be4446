#include "tests/win_test_support/config_host_win.h"

#include <utility>

#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/registry_values_win.h"

namespace veltrona::test_support {

std::wstring DemoContent() { return BinFolder() + L"..\\..\\..\\data\\config-host"; }

bool PointClientAtConfigHost(unsigned short port) {
  return SetString(HKEY_LOCAL_MACHINE, kMachineKey, L"Config Host", L"127.0.0.1:" + std::to_wstring(port));
}

void ForgetConfigHost() { DeleteValue(HKEY_LOCAL_MACHINE, kMachineKey, L"Config Host"); }

ConfigHost::ConfigHost(unsigned short port, const std::wstring& folder, const std::wstring& switches,
                       const std::wstring& log_file) {
  const std::wstring ready_name = L"VeltronaConfigHostReady" + UniqueSuffix();
  UniqueEvent ready(::CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
  const std::wstring program = PeerProgram(L"config_host");
  std::wstring command =
      L"\"" + program + L"\" " + std::to_wstring(port) + L" \"" + folder + L"\" --ready " + ready_name;
  if (!log_file.empty()) command += L" --log \"" + log_file + L"\"";
  if (!switches.empty()) command += L" " + switches;
  auto started = StartProgram(program.c_str(), command, CREATE_NO_WINDOW);
  if (!started) return;
  process_ = std::move(*started);
  // Ready, or gone: a stand-in that could not listen ends at once.
  const HANDLE waits[] = {ready.Get(), process_.Get()};
  listening_ = ::WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
}

ConfigHost::~ConfigHost() {
  if (process_) {
    ::TerminateProcess(process_.Get(), 0);
    ::WaitForSingleObject(process_.Get(), 10000);
  }
}

}  // namespace veltrona::test_support
