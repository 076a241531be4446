// VeltronaVPNsrv: installs or removes itself from its command line, and runs
// as the VeltronaVPN service when the service control manager starts it.
#include <windows.h>

#include <string>

#include "base/console_win.h"
#include "base/wide_text.h"
#include "service/service_control.h"
#include "service/service_control_win.h"

int main(int argc, char** argv) {
  using namespace veltrona;
  using namespace veltrona::service;

  std::wstring service_name = ToWide(kServiceName);
  SERVICE_TABLE_ENTRYW dispatch_table[] = {{service_name.data(), ServiceMain}, {nullptr, nullptr}};

  switch (ParseCommandLine(argc, argv)) {
    case Command::kInstall:
      return InstallService();
    case Command::kRemove:
      return RemoveService();
    case Command::kDispatch:
      break;
  }
  const std::string usage = UsageText();
  ConsoleWrite(std::wstring(usage.begin(), usage.end()));
  // Under the service control manager this returns once the service has
  // stopped; from a console it fails at once.
  ::StartServiceCtrlDispatcherW(dispatch_table);
  return 0;
}
