// The client's run from start to exit, in its fixed order.
#pragma once

#include <windows.h>

#include <string_view>

namespace veltrona::app {

inline constexpr wchar_t kSingleInstanceMutexName[] = L"Global\\VeltronaIsOpened";
inline constexpr std::wstring_view kAlreadyRunningText =
    L"The VeltronaVPN connection tool is already running. Use the systray icon to restore or quit the application.";

// `ansi_command_line` is the command line without the program name.
int RunClient(HINSTANCE instance, std::string_view ansi_command_line);

}  // namespace veltrona::app
