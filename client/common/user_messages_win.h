// The client's one way to show a message box, open a modal dialog or start an
// outside program. Each goes through a replaceable presenter so that tests
// record what the user would see (and answer it) instead of blocking on a
// window or opening a browser.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "client/common/texts.h"

namespace veltrona::common {


struct MessageRequest {
  HWND owner = nullptr;
  std::wstring text;
  std::wstring caption;
  UINT style = 0;
};
// Returns what MessageBoxW would (IDOK, IDRETRY, ...).
using MessagePresenter = std::function<int(const MessageRequest&)>;

struct DialogRequest {
  HINSTANCE instance = nullptr;
  int template_id = 0;
  HWND owner = nullptr;
  DLGPROC procedure = nullptr;
  LPARAM parameter = 0;
};
// Returns what DialogBoxParamW would.
using DialogPresenter = std::function<INT_PTR(const DialogRequest&)>;

struct LaunchRequest {
  std::wstring program;
  std::wstring parameters;
  int show = SW_HIDE;
  // ShellExecuteW's verb (empty: the default) and the window that owns
  // what the start shows.
  std::wstring verb = {};
  HWND owner = nullptr;
};
// Returns whether the program was started.
using Launcher = std::function<bool(const LaunchRequest&)>;

int ShowUserMessage(HWND owner, std::wstring_view text, std::wstring_view caption, UINT style);
// The client's usual warning: its caption and the warning icon.
int ShowWarning(HWND owner, std::wstring_view text);
INT_PTR ShowModalDialog(const DialogRequest& request);
[[nodiscard]] bool LaunchProgram(const LaunchRequest& request);
// Opens `address` in the default browser: "cmd" with "/c start <address> /s",
// in a hidden window.
[[nodiscard]] bool OpenWebPage(std::wstring_view address);

// Each replaces the presenter and returns the one it replaced; an empty
// function puts the real one (MessageBoxW, DialogBoxParamW, ShellExecuteW)
// back.
MessagePresenter SetMessagePresenter(MessagePresenter presenter);
DialogPresenter SetDialogPresenter(DialogPresenter presenter);
Launcher SetLauncher(Launcher launcher);

}  // namespace veltrona::common
