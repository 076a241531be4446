// VeltronaVpn: the tray client. The main window and the engines' use of it
// are added on top of what start-up does today.
#include <windows.h>
#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/, int /*show*/) {
  // The link controls of the dialogs.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_LINK_CLASS;
  ::InitCommonControlsEx(&controls);
  return 0;
}
