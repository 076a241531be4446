#include "client/app/main_window_win.h"

#include <windowsx.h>

#include <new>
#include <string>

#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/app/client_win.h"
#include "client/app/connection_ui.h"
#include "client/app/credentials_cache_win.h"
#include "client/common/texts.h"
#include "client/common/user_messages_win.h"
#include "client/common/window_ids.h"
#include "client/config/http_client_win.h"
#include "client/config/server_list_win.h"
#include "client/config/settings_store_win.h"
#include "client/resources/resource.h"
#include "client/support/problem_report_win.h"

namespace veltrona::app {
namespace {

using config::SettingId;
using engines::ENGINE_CONNECTED;
using engines::ENGINE_DISCONNECTED;

constexpr int kFieldChars = 260;
constexpr DWORD kDisconnectSettleMs = 500;
constexpr std::wstring_view kHistoryBusyText =
    L"You have to close the default web browser before cleaning history. \nYou can retry after closing the "
    L"current web browser.";

struct MainWindowData {
  UniqueFont link_font;
  UINT taskbar_created = 0;
};

MainWindowData* DataOf(HWND window) {
  return reinterpret_cast<MainWindowData*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

ConnectionController& Controller() { return *TheClient().controller; }
engines::EngineState CurrentState() { return Controller().engine().GetState(); }

std::wstring FieldText(HWND window, int id) {
  wchar_t text[kFieldChars] = {};
  ::GetDlgItemTextW(window, id, text, kFieldChars);
  return text;
}

bool IsChecked(HWND window, int id) { return ::IsDlgButtonChecked(window, id) == BST_CHECKED; }

void Enable(HWND window, int id, bool enabled) { ::EnableWindow(::GetDlgItem(window, id), enabled ? TRUE : FALSE); }

void StoreCheckBox(HWND window, int id, SettingId setting) {
  (void)config::WriteDwordSetting(setting, config::CheckBoxSettingValue(IsChecked(window, id)));
}

std::wstring WebSite() { return ToWide(config::ReadDeploymentValues().web_site); }

// --- the user's connect and disconnect -------------------------------------

void UserConnect(HWND window, const std::wstring& server, const std::wstring& vpn_id,
                 const std::wstring& activation_code) {
  Enable(window, IDC_CONNECT, false);
  if (Controller().Connect(server, vpn_id, activation_code) == 0) {
    Enable(window, IDC_PIXELGUARD, false);
    return;
  }
  Controller().Disconnect();
  UpdateConnectionUi();
  common::ShowWarning(window, ToWide(config::kConnectionErrorMessage));
}

void UserDisconnect(HWND window) {
  Enable(window, IDC_CONNECT, false);
  Controller().Disconnect();
  // Lets the engine's state settle before the window shows it.
  ::Sleep(kDisconnectSettleMs);
  UpdateConnectionUi();
  if (IsChecked(window, IDC_CLEAR_HISTORY) && TheClient().clean_history) {
    while (!TheClient().clean_history()) {
      if (common::ShowUserMessage(window, kHistoryBusyText, ToWide(common::kMessageCaption),
                                  MB_RETRYCANCEL | MB_ICONINFORMATION) != IDRETRY) {
        break;
      }
    }
  }
  if (!IsChecked(window, IDC_PRESERVE_IP)) Enable(window, IDC_PIXELGUARD, true);
}

void OnConnectCommand(HWND window) {
  const std::wstring vpn_id = FieldText(window, IDC_VPN_ID);
  const std::wstring activation_code = FieldText(window, IDC_ACTIVATION_CODE);
  const std::wstring server = FieldText(window, IDC_SERVER);
  if (const auto warning = ConnectFieldWarning(ToU16(vpn_id), ToU16(activation_code), ToU16(server))) {
    common::ShowWarning(window, ToWide(*warning));
    return;
  }
  switch (ActionForConnectButton(CurrentState())) {
    case ConnectButtonAction::kConnect:
      UserConnect(window, server, vpn_id, activation_code);
      break;
    case ConnectButtonAction::kDisconnect:
      UserDisconnect(window);
      break;
    case ConnectButtonAction::kNothing:
      break;
  }
}

// --- dialogs -----------------------------------------------------------------

INT_PTR CALLBACK AboutProcedure(HWND dialog, UINT message, WPARAM w_param, LPARAM /*l_param*/) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(w_param) == IDOK || LOWORD(w_param) == IDCANCEL)) {
    ::EndDialog(dialog, LOWORD(w_param));
    return TRUE;
  }
  return FALSE;
}

void OpenModal(HWND window, int template_id, DLGPROC procedure, LPARAM parameter) {
  common::DialogRequest request;
  request.instance = TheClient().instance;
  request.template_id = template_id;
  request.owner = window;
  request.procedure = procedure;
  request.parameter = parameter;
  (void)common::ShowModalDialog(request);
}

void OpenProblemReport(HWND window) {
  const std::wstring vpn_id = FieldText(window, IDC_VPN_ID);
  OpenModal(window, IDD_PROBLEM_REPORT, support::ProblemReportProcedure, reinterpret_cast<LPARAM>(vpn_id.c_str()));
}

// --- handlers ----------------------------------------------------------------

void ShowTrayLook(int icon_id, std::u16string_view tip) {
  TrayIcon* tray = TheClient().tray.get();
  if (tray == nullptr) return;
  tray->SetLook(::LoadIconW(TheClient().instance, MAKEINTRESOURCEW(icon_id)), ToWide(tip));
}

BOOL OnInitDialog(HWND window) {
  Client& client = TheClient();
  client.main_window = window;
  auto* data = new (std::nothrow) MainWindowData;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
  if (data != nullptr) data->taskbar_created = ::RegisterWindowMessageW(common::kTaskbarCreatedMessageName.data());

  std::wstring title = ToWide(common::kProductName);
  title += L' ';
  title += ToWide(common::kClientVersion);
  ::SetWindowTextW(window, title.c_str());

  client.tray = std::make_unique<TrayIcon>(window);
  ShowTrayLook(IDI_DISCONNECTED, kTrayTipStart);
  (void)client.tray->Add();

  Controller().SetOwnerWindow(window);
  Controller().engine().Attach(&Controller(), window);
  ::SendMessageW(window, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(::LoadIconW(client.instance, MAKEINTRESOURCEW(IDI_VELTRONA))));

  if (config::IsSettingSet(config::DwordSetting(SettingId::kPixelguard))) {
    ::CheckDlgButton(window, IDC_PIXELGUARD, BST_CHECKED);
  }
  config::LoadServerList(window, Controller().config_host(), Controller().servers(), client.startup_wait);
  client.startup_wait = nullptr;  // later downloads wait as long as usual
  // A run that ended while Pixelguard held the proxy left the user's copy.
  Controller().RecoverProxy();
  Controller().ClearStaleProxy();
  FillCredentialFields(window);
  ::SetFocus(::GetDlgItem(window, IDC_VPN_ID));

  if (config::IsSettingSet(config::DwordSetting(SettingId::kClearHistory))) {
    ::CheckDlgButton(window, IDC_CLEAR_HISTORY, BST_CHECKED);
  }
  const DWORD preserve_ip = config::DwordSetting(SettingId::kPreserveIp);
  if (config::IsSettingSet(preserve_ip)) ::CheckDlgButton(window, IDC_PRESERVE_IP, BST_CHECKED);
  const bool locked = config::PreserveIpLocksServerChoice(preserve_ip);
  Enable(window, IDC_PIXELGUARD, !locked);
  Enable(window, IDC_SERVER, !locked);

  ::SetTimer(window, common::kTimerStatistics, common::kStatisticsPeriodMs, nullptr);
  ::SetTimer(window, common::kTimerConnectedCheck, common::kConnectedCheckPeriodMs, nullptr);

  // The two links are underlined.
  const auto font = reinterpret_cast<HFONT>(::SendDlgItemMessageW(window, IDC_REPORT_PROBLEM, WM_GETFONT, 0, 0));
  LOGFONTW log_font{};
  if (data != nullptr && font != nullptr && ::GetObjectW(font, sizeof log_font, &log_font) == sizeof log_font) {
    log_font.lfUnderline = TRUE;
    data->link_font.Reset(::CreateFontIndirectW(&log_font));
    const auto link_font = reinterpret_cast<WPARAM>(data->link_font.Get());
    ::SendDlgItemMessageW(window, IDC_REPORT_PROBLEM, WM_SETFONT, link_font, FALSE);
    ::SendDlgItemMessageW(window, IDC_PIXELGUARD_LINK, WM_SETFONT, link_font, FALSE);
  }

  UpdateConnectionUi();
  return FALSE;  // the focus is set above
}

void OnExit(HWND window) {
  if (CurrentState() == ENGINE_CONNECTED) Controller().Disconnect();
  if (TheClient().tray) (void)TheClient().tray->Delete();
  ::DestroyWindow(window);
}

void OnCommand(HWND window, int id) {
  switch (id) {
    case IDCANCEL:
      ::ShowWindow(window, SW_HIDE);
      break;
    case IDC_CONNECT:
    case IDM_CONNECT:
      OnConnectCommand(window);
      break;
    case IDC_CLEAR_HISTORY:
      StoreCheckBox(window, IDC_CLEAR_HISTORY, SettingId::kClearHistory);
      break;
    case IDC_PIXELGUARD:
      StoreCheckBox(window, IDC_PIXELGUARD, SettingId::kPixelguard);
      // The box filters the list: servers with Pixelguard, or the others.
      config::LoadServerList(window, Controller().config_host(), Controller().servers());
      Controller().OnPixelguardToggled(IsChecked(window, IDC_PIXELGUARD));
      break;
    case IDC_PRESERVE_IP:
      // Only a choice made while disconnected is kept.
      if (CurrentState() != ENGINE_DISCONNECTED) break;
      StoreCheckBox(window, IDC_PRESERVE_IP, SettingId::kPreserveIp);
      Enable(window, IDC_PIXELGUARD, !IsChecked(window, IDC_PRESERVE_IP));
      Enable(window, IDC_SERVER, !IsChecked(window, IDC_PRESERVE_IP));
      break;
    case IDC_ABOUT:
      OpenModal(window, IDD_ABOUT, AboutProcedure, 0);
      break;
    case IDC_CONFIGURE:
      Controller().engine().Configure();
      break;
    case IDM_EXIT:
      OnExit(window);
      break;
    default:
      break;
  }
}

void OnTimer(UINT_PTR id) {
  if (id == common::kTimerStatistics) {
    Controller().engine().UpdateStatistics();
  } else if (id == common::kTimerConnectedCheck) {
    if (CurrentState() == ENGINE_CONNECTED) Controller().engine().PeriodicCheck();
  }
}

void OnPaint(HWND window) {
  const ScopedPaint dialog_paint(window);
  const HWND banner = ::GetDlgItem(window, IDC_BANNER);
  if (banner == nullptr) return;
  const ScopedPaint banner_paint(banner);
  const UniqueBitmap bitmap(::LoadBitmapW(TheClient().instance, MAKEINTRESOURCEW(IDB_BANNER)));
  const UniqueMemoryDc memory(::CreateCompatibleDC(banner_paint.dc()));
  if (!bitmap || !memory) return;
  BITMAP size{};
  ::GetObjectW(bitmap.Get(), sizeof size, &size);
  RECT area{};
  ::GetClientRect(banner, &area);
  const ScopedSelectObject selection(memory.Get(), bitmap.Get());
  ::SetStretchBltMode(banner_paint.dc(), HALFTONE);
  ::StretchBlt(banner_paint.dc(), 0, 0, area.right, area.bottom, memory.Get(), 0, 0, size.bmWidth, size.bmHeight,
               SRCCOPY);
}

void OnDestroy(HWND window) {
  delete DataOf(window);
  ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  ::PostQuitMessage(0);
}

INT_PTR OnCtlColorStatic(HDC dc, HWND control) {
  const int id = ::GetDlgCtrlID(control);
  if (id != IDC_PIXELGUARD_LINK && id != IDC_REPORT_PROBLEM) return 0;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(0, 0, 255));
  return reinterpret_cast<INT_PTR>(::GetStockObject(NULL_BRUSH));
}

bool IsOver(HWND window, int id, POINT screen_point) {
  RECT area{};
  return ::GetWindowRect(::GetDlgItem(window, id), &area) && ::PtInRect(&area, screen_point);
}

void OnMouse(HWND window, UINT message, LPARAM l_param) {
  POINT point{GET_X_LPARAM(l_param), GET_Y_LPARAM(l_param)};
  ::ClientToScreen(window, &point);
  for (const int id : {IDC_BANNER, IDC_PIXELGUARD_LINK, IDC_REPORT_PROBLEM}) {
    if (!IsOver(window, id, point)) continue;
    ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
    if (message != WM_LBUTTONDOWN) return;
    if (id == IDC_BANNER) {
      (void)common::OpenWebPage(WebSite());
    } else if (id == IDC_PIXELGUARD_LINK) {
      (void)common::OpenWebPage(ToWide(PixelguardPageAddress(ToU16(WebSite()))));
    } else {
      OpenProblemReport(window);
    }
    return;
  }
}

void ShowTrayMenu(HWND window) {
  const UniqueMenu menu = LoadTrayMenu(TheClient().instance, CurrentState());
  const HMENU popup = ::GetSubMenu(menu.Get(), 0);
  if (popup == nullptr) return;
  POINT cursor{};
  ::GetCursorPos(&cursor);
  ::SetForegroundWindow(window);
  ::TrackPopupMenu(popup, TPM_LEFTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
  // Lets the menu close when the user clicks elsewhere.
  ::PostMessageW(window, WM_NULL, 0, 0);
}

void OnTrayCallback(HWND window, WPARAM w_param, LPARAM l_param) {
  if (w_param != common::kTrayIconId) return;
  switch (static_cast<UINT>(l_param)) {
    case WM_LBUTTONDBLCLK:
      ::ShowWindow(window, SW_SHOWNORMAL);
      break;
    case WM_RBUTTONUP:
      ShowTrayMenu(window);
      break;
    default:
      break;
  }
}

}  // namespace

void UpdateConnectionUi() {
  const HWND window = TheClient().main_window;
  // Nothing to show once the window is gone (the engine's last disconnect
  // at exit), and the tray icon must not come back.
  if (window == nullptr || !::IsWindow(window) || TheClient().controller == nullptr) return;
  const ConnectionUiPlan plan = PlanConnectionUi(CurrentState(), IsChecked(window, IDC_PRESERVE_IP));
  if (!plan.applies) return;
  if (plan.button_text) ::SetDlgItemTextW(window, IDC_CONNECT, ToWide(*plan.button_text).c_str());
  for (const auto& [id, enabled] : plan.enable) Enable(window, id, enabled);
  ::SetDlgItemTextW(window, IDC_STATUS, ToWide(plan.status).c_str());
  if (plan.tray && TheClient().tray) {
    ShowTrayLook(plan.tray->icon_id, plan.tray->tip);
    (void)TheClient().tray->Modify();
  }
  if (plan.save_credentials_and_hide) {
    // A cache that cannot be written only means empty fields next time.
    (void)SaveCredentials(FieldText(window, IDC_VPN_ID), FieldText(window, IDC_ACTIVATION_CODE),
                          FieldText(window, IDC_SERVER));
    ::ShowWindow(window, SW_HIDE);
  }
}

INT_PTR CALLBACK MainWindowProcedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  Client& client = TheClient();
  if (client.ras_dial_message != 0 && message == client.ras_dial_message) {
    return client.controller->engine().OnEvent(static_cast<uint32_t>(w_param), static_cast<int32_t>(l_param));
  }
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(window);
    case WM_COMMAND:
      OnCommand(window, LOWORD(w_param));
      return TRUE;
    case WM_TIMER:
      OnTimer(w_param);
      return TRUE;
    case WM_PAINT:
      OnPaint(window);
      return TRUE;
    case WM_CLOSE:
      ::ShowWindow(window, SW_HIDE);
      return TRUE;
    case WM_DESTROY:
      OnDestroy(window);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return OnCtlColorStatic(reinterpret_cast<HDC>(w_param), reinterpret_cast<HWND>(l_param));
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      OnMouse(window, message, l_param);
      return TRUE;
    case common::kTrayCallbackMessage:
      OnTrayCallback(window, w_param, l_param);
      return TRUE;
    case common::WM_VPN_SOCKET:
      (void)client.controller->engine().OnEvent(static_cast<uint32_t>(w_param), static_cast<int32_t>(l_param));
      return TRUE;
    case WM_RASDIALEVENT:
      return client.controller->engine().OnEvent(static_cast<uint32_t>(w_param), static_cast<int32_t>(l_param));
    default:
      break;
  }
  const MainWindowData* data = DataOf(window);
  if (data != nullptr && data->taskbar_created != 0 && message == data->taskbar_created) {
    if (client.tray) (void)client.tray->Readd();
    return TRUE;
  }
  return FALSE;
}

}  // namespace veltrona::app
