#include "client/common/user_messages_win.h"

#include <shellapi.h>

#include <utility>

#include "base/wide_text.h"

namespace veltrona::common {
namespace {

// Set only by tests; the client runs on one thread, so no lock.
MessagePresenter& CurrentMessagePresenter() {
  static MessagePresenter presenter;
  return presenter;
}
DialogPresenter& CurrentDialogPresenter() {
  static DialogPresenter presenter;
  return presenter;
}
Launcher& CurrentLauncher() {
  static Launcher launcher;
  return launcher;
}

}  // namespace

int ShowUserMessage(HWND owner, std::wstring_view text, std::wstring_view caption, UINT style) {
  MessageRequest request{owner, std::wstring(text), std::wstring(caption), style};
  if (const MessagePresenter& presenter = CurrentMessagePresenter()) return presenter(request);
  return ::MessageBoxW(request.owner, request.text.c_str(), request.caption.c_str(), request.style);
}

int ShowWarning(HWND owner, std::wstring_view text) {
  return ShowUserMessage(owner, text, ToWide(kMessageCaption), MB_ICONWARNING);
}

INT_PTR ShowModalDialog(const DialogRequest& request) {
  if (const DialogPresenter& presenter = CurrentDialogPresenter()) return presenter(request);
  return ::DialogBoxParamW(request.instance, MAKEINTRESOURCEW(request.template_id), request.owner,
                           request.procedure, request.parameter);
}

bool LaunchProgram(const LaunchRequest& request) {
  if (const Launcher& launcher = CurrentLauncher()) return launcher(request);
  const HINSTANCE result =
      ::ShellExecuteW(request.owner, request.verb.empty() ? nullptr : request.verb.c_str(), request.program.c_str(),
                      request.parameters.c_str(), nullptr, request.show);
  // ShellExecuteW reports success as a value above 32.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

bool OpenWebPage(std::wstring_view address) {
  std::wstring parameters = L"/c start ";
  parameters += address;
  parameters += L" /s";
  LaunchRequest request;
  request.program = L"cmd";
  request.parameters = std::move(parameters);
  request.show = SW_HIDE;
  return LaunchProgram(request);
}

MessagePresenter SetMessagePresenter(MessagePresenter presenter) {
  return std::exchange(CurrentMessagePresenter(), std::move(presenter));
}

DialogPresenter SetDialogPresenter(DialogPresenter presenter) {
  return std::exchange(CurrentDialogPresenter(), std::move(presenter));
}

Launcher SetLauncher(Launcher launcher) { return std::exchange(CurrentLauncher(), std::move(launcher)); }

}  // namespace veltrona::common
