// VeltronaVpn: the tray client. Start-up, the main window and the engines
// are added on top of the command-pipe senders it links today.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/, int /*show*/) {
  return 0;
}
