#include "client/app/tray_icon_win.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <utility>

#include "base/wide_text.h"
#include "client/app/connection_ui.h"
#include "client/common/window_ids.h"
#include "client/resources/resource.h"

namespace veltrona::app {

TrayIcon::TrayIcon(HWND owner, NotifyIconFunction notify) : notify_(std::move(notify)) {
  data_.cbSize = sizeof data_;
  data_.hWnd = owner;
  data_.uID = common::kTrayIconId;
  data_.uCallbackMessage = common::kTrayCallbackMessage;
  data_.uFlags = NIF_MESSAGE;
}

void TrayIcon::SetLook(HICON icon, std::wstring_view tip) {
  data_.hIcon = icon;
  data_.uFlags |= NIF_ICON;
  const size_t length = std::min(tip.size(), std::size(data_.szTip) - 1);
  std::wmemcpy(data_.szTip, tip.data(), length);
  data_.szTip[length] = L'\0';
  data_.uFlags |= NIF_TIP;
}

bool TrayIcon::Call(DWORD message, int attempts) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    const BOOL done = notify_ ? notify_(message, &data_) : ::Shell_NotifyIconW(message, &data_);
    if (done) return true;
  }
  return false;
}

bool TrayIcon::Add() {
  if (!Call(NIM_ADD, kTrayAttempts)) return false;
  present_ = true;
  return true;
}

bool TrayIcon::Modify() {
  if (Call(NIM_MODIFY, kTrayAttempts)) return true;
  // The shell lost the icon: take it down and put it up again.
  if (Call(NIM_DELETE, 1)) present_ = false;
  return Add();
}

bool TrayIcon::Delete() {
  if (!Call(NIM_DELETE, kTrayAttempts)) return false;
  present_ = false;
  return true;
}

bool TrayIcon::Readd() {
  present_ = false;
  return Add();
}

UniqueMenu LoadTrayMenu(HINSTANCE instance, engines::EngineState state) {
  UniqueMenu menu(::LoadMenuW(instance, MAKEINTRESOURCEW(IDR_TRAY_MENU)));
  const HMENU popup = menu ? ::GetSubMenu(menu.Get(), 0) : nullptr;
  const TrayMenuItem item = TrayConnectItem(state);
  if (popup != nullptr && item.text) {
    const std::wstring text = ToWide(*item.text);
    ::ModifyMenuW(popup, IDM_CONNECT, MF_BYCOMMAND | MF_STRING | (item.enabled ? MF_ENABLED : MF_DISABLED),
                  IDM_CONNECT, text.c_str());
  }
  return menu;
}

}  // namespace veltrona::app
