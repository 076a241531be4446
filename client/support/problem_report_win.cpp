#include "client/support/problem_report_win.h"

#include <commctrl.h>

#include <new>
#include <string_view>

#include "base/wide_text.h"
#include "client/common/texts.h"
#include "client/common/user_messages_win.h"
#include "client/config/http_client_win.h"
#include "client/resources/resource.h"
#include "client/support/diagnostics_win.h"
#include "client/support/problem_report.h"

namespace veltrona::support {

namespace {

// How far the dialog grows and shrinks, in pixels.
constexpr int kDiagnosticsHeight = 200;

struct ReportDialogState {
  std::string diagnostics;
  bool shown = false;
};

ReportDialogState* StateOf(HWND dialog) {
  return reinterpret_cast<ReportDialogState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
}

std::wstring WholeText(HWND control) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  const int copied = ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

// The text in the ANSI code page, in at most `max_bytes` bytes: a character
// that does not fit whole is left out with everything after it.
std::string AnsiCut(std::wstring_view text, std::size_t max_bytes) {
  std::string result;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t units = 1;
    if (IS_HIGH_SURROGATE(text[at]) && at + 1 < text.size() && IS_LOW_SURROGATE(text[at + 1])) units = 2;
    char bytes[8] = {};
    const int count = ::WideCharToMultiByte(CP_ACP, 0, text.data() + at, static_cast<int>(units), bytes,
                                            static_cast<int>(sizeof bytes), nullptr, nullptr);
    if (count <= 0 || result.size() + static_cast<std::size_t>(count) > max_bytes) break;
    result.append(bytes, static_cast<std::size_t>(count));
    at += units;
  }
  return result;
}

std::string BoxText(HWND dialog, int id, std::size_t buffer_chars) {
  return AnsiCut(WholeText(::GetDlgItem(dialog, id)), buffer_chars - 1);
}

void MoveBy(HWND dialog, int id, int dy) {
  const HWND control = ::GetDlgItem(dialog, id);
  RECT area{};
  ::GetWindowRect(control, &area);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
  ::SetWindowPos(control, nullptr, area.left, area.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL OnInitDialog(HWND dialog, LPARAM parameter) {
  auto* state = new (std::nothrow) ReportDialogState;
  ::SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
  const auto* vpn_id = reinterpret_cast<const wchar_t*>(parameter);
  ::SetDlgItemTextW(dialog, IDC_REPORT_VPN_ID, vpn_id != nullptr ? vpn_id : L"");
  // What the user can type is what the upload takes.
  ::SendDlgItemMessageW(dialog, IDC_REPORT_VPN_ID, EM_LIMITTEXT, kVpnIdChars - 1, 0);
  ::SendDlgItemMessageW(dialog, IDC_REPORT_EMAIL, EM_LIMITTEXT, kEmailChars - 1, 0);
  ::SendDlgItemMessageW(dialog, IDC_REPORT_DESCRIPTION, EM_LIMITTEXT, kDescriptionChars - 1, 0);
  if (state != nullptr) {
    state->diagnostics = CollectDiagnostics();
    // The logs may be far longer than an edit box takes by default.
    ::SendDlgItemMessageW(dialog, IDC_REPORT_DIAGNOSTICS, EM_LIMITTEXT, 0, 0);
    ::SetDlgItemTextA(dialog, IDC_REPORT_DIAGNOSTICS, state->diagnostics.c_str());
  }
  ::CheckDlgButton(dialog, IDC_REPORT_AGREE, BST_CHECKED);
  return TRUE;
}

void ToggleDiagnostics(HWND dialog) {
  ReportDialogState* state = StateOf(dialog);
  if (state == nullptr) return;
  const int dy = state->shown ? -kDiagnosticsHeight : kDiagnosticsHeight;
  RECT frame{};
  ::GetWindowRect(dialog, &frame);
  ::SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  MoveBy(dialog, IDOK, dy);
  MoveBy(dialog, IDCANCEL, dy);
  const HWND box = ::GetDlgItem(dialog, IDC_REPORT_DIAGNOSTICS);
  if (state->shown) {
    ::ShowWindow(box, SW_HIDE);
    ::SetDlgItemTextW(dialog, IDC_REPORT_SHOW_LINK, ToWide(kShowDiagnosticsLink).c_str());
  } else {
    RECT area{};
    ::GetWindowRect(box, &area);
    ::SetWindowPos(box, nullptr, 0, 0, area.right - area.left, kDiagnosticsHeight,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::ShowWindow(box, SW_SHOW);
    ::SetDlgItemTextW(dialog, IDC_REPORT_SHOW_LINK, ToWide(kHideDiagnosticsLink).c_str());
  }
  state->shown = !state->shown;
  // The buttons land on what the grown frame just uncovered.
  ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void OnSubmit(HWND dialog) {
  const std::string vpn_id = BoxText(dialog, IDC_REPORT_VPN_ID, kVpnIdChars);
  const std::string email = BoxText(dialog, IDC_REPORT_EMAIL, kEmailChars);
  const std::wstring description_text = WholeText(::GetDlgItem(dialog, IDC_REPORT_DESCRIPTION));
  if (description_text.size() < kMinDescriptionChars) {
    (void)common::ShowWarning(dialog, ToWide(kDescribeProblemText));
    return;
  }
  const std::string description = AnsiCut(description_text, kDescriptionChars - 1);
  const ReportDialogState* state = StateOf(dialog);
  const bool agreed = ::IsDlgButtonChecked(dialog, IDC_REPORT_AGREE) == BST_CHECKED;
  const std::string log = LogFieldValue(agreed, state != nullptr ? state->diagnostics : std::string());
  const int sent = SendProblemReport(vpn_id, email, description, log);
  const std::wstring caption = ToWide(common::kMessageCaption);
  if (sent == 1) {
    (void)common::ShowUserMessage(dialog, ToWide(kReportDeliveredText), caption, MB_ICONWARNING);
    ::EndDialog(dialog, IDOK);
  } else {
    // The fields stay for another try; the diagnostics are not gathered again.
    (void)common::ShowUserMessage(dialog, ToWide(kReportFailedText), caption, 0);
  }
}

void OnDestroy(HWND dialog) {
  delete StateOf(dialog);
  ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
}

}  // namespace

int SendProblemReport(const std::string& vpn_id, const std::string& email, const std::string& description,
                      const std::string& log) {
  try {
    const std::string body = BuildReportBody(ProblemReport{vpn_id, email, description, log});
    return config::HttpPostMultipart(body) ? 1 : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

INT_PTR CALLBACK ProblemReportProcedure(HWND dialog, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog, l_param);
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(l_param);
      if (header != nullptr && header->idFrom == IDC_REPORT_SHOW_LINK && header->code == NM_CLICK) {
        ToggleDiagnostics(dialog);
        return TRUE;
      }
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(w_param) == IDOK) {
        OnSubmit(dialog);
        return TRUE;
      }
      if (LOWORD(w_param) == IDCANCEL) {
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      OnDestroy(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace veltrona::support
