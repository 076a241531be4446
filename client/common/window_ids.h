// Window messages and timer ids of the client's main window, written once.
// Control, dialog, menu, icon and bitmap ids are in client/resources/resource.h.
#pragma once

#include <cstdint>
#include <string_view>

namespace veltrona::common {

// Timers of the main window.
inline constexpr uintptr_t kTimerStatistics = 34521;      // every second: the engine's statistics
inline constexpr uintptr_t kTimerConnectedCheck = 34522;  // every 10 s while connected: the route check
inline constexpr uintptr_t kTimerConnectRetry = 34523;    // the OpenVPN engine spaces its connects with it
inline constexpr uint32_t kStatisticsPeriodMs = 1000;
inline constexpr uint32_t kConnectedCheckPeriodMs = 10000;

// WM_USER + 1: what the tray icon sends its owner.
inline constexpr uint32_t kTrayCallbackMessage = 0x0400 + 1;
inline constexpr uint32_t kTrayIconId = 1;

// WM_APP + 2: Winsock's notifications for the management socket.
inline constexpr uint32_t WM_VPN_SOCKET = 0x8000 + 2;
// Registered with RegisterWindowMessageA before the main window exists.
inline constexpr std::string_view kRasDialEventMessageName = "RasDialEvent";
inline constexpr std::wstring_view kTaskbarCreatedMessageName = L"TaskbarCreated";

// The image button: its window class and the two messages (WM_USER and
// WM_USER + 1, lParam a bitmap handle) that hand it its normal and hover
// images. Registered by start-up; the browser warning creates one.
inline constexpr std::wstring_view kGoofyButtonClass = L"GoofyButton";
inline constexpr uint32_t kSetNormalImage = 0x0400;
inline constexpr uint32_t kSetHoverImage = 0x0400 + 1;

}  // namespace veltrona::common

// The fixed message RAS falls back to. A macro, spelled as <ras.h> spells
// it, so that both headers can meet in one file.
#ifndef WM_RASDIALEVENT
#define WM_RASDIALEVENT 0xCCCD
#endif
