// BrowserWarningDialog: dialog 137, a shaped window drawn from bitmap 142
// with the real buttons over the picture and a GoofyButton as its close
// button. It ends with 1 ("Yes, Protect Me Now") or 2 ("No", the close
// button, Escape); a ticked box writes "Dont Warn Me" first.
#pragma once

#include <windows.h>

namespace veltrona::engines {

inline constexpr int kWarningWidth = 563;
inline constexpr int kWarningHeight = 289;
// Pixels of this colour in bitmap 142 are holes in the window.
inline constexpr COLORREF kWarningKeyColour = RGB(70, 147, 135);
// The top band by which the window is dragged, in client coordinates.
inline constexpr RECT kWarningDragBand = {3, 3, 510, 53};
inline constexpr int kCloseButtonX = 508;
inline constexpr int kCloseButtonSize = 55;

INT_PTR CALLBACK BrowserWarningProcedure(HWND dialog, UINT message, WPARAM w_param, LPARAM l_param);

}  // namespace veltrona::engines
