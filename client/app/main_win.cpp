// VeltronaVpn: the tray client.
#include <windows.h>

#include "client/app/startup_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR command_line, int /*show*/) {
  return veltrona::app::RunClient(instance, command_line != nullptr ? command_line : "");
}
