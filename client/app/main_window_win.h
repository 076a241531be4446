// The client's main window: dialog 129, shown or hidden but never re-created,
// with its tray icon and menu. The procedure hands each message to one
// handler.
#pragma once

#include <windows.h>

namespace veltrona::app {

INT_PTR CALLBACK MainWindowProcedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

}  // namespace veltrona::app
