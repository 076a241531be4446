// GoofyButton: a button drawn entirely from two images, a normal one and
// one for while the pointer is over it (pressed looks the same). It holds
// the mouse capture while hot and posts WM_COMMAND with its id (the
// creation parameter) to its parent when a click completes inside it. It
// owns the images it is given.
#pragma once

#include <windows.h>

namespace veltrona::app {

// Once at start-up, before any button exists; false when the class could
// not be registered (the warning then shows without its close button).
[[nodiscard]] bool RegisterGoofyButtonClass(HINSTANCE instance) noexcept;
// After the message loop.
void UnregisterGoofyButtonClass(HINSTANCE instance) noexcept;

LRESULT CALLBACK GoofyButtonProcedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

}  // namespace veltrona::app
