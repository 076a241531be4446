#include "client/engines/browser_warning_dialog_win.h"

#include <windowsx.h>

#include <new>
#include <span>
#include <vector>

#include "base/unique_handle_win.h"
#include "client/common/window_ids.h"
#include "client/config/settings_store_win.h"
#include "client/engines/window_shape.h"
#include "client/resources/resource.h"

namespace veltrona::engines {
namespace {

constexpr int kYesX = 187, kYesY = 199, kYesWidth = 190, kYesHeight = 35;
constexpr int kNoX = 442, kNoY = 199, kNoWidth = 105, kNoHeight = 35;
constexpr int kCheckBoxX = 396, kCheckBoxY = 261;

// What the dialog holds while it is shown. The background stays selected
// in its memory context until the record goes; then the context gets back
// what it held before, so neither is deleted while selected.
struct WarningRecord {
  UniqueFont button_font;
  UniqueMemoryDc background_dc;
  UniqueBitmap background;
  HGDIOBJ previous = nullptr;
  HWND close_button = nullptr;

  ~WarningRecord() {
    if (background_dc && previous != nullptr) ::SelectObject(background_dc.Get(), previous);
    background.Reset();
    background_dc.Reset();
  }
};

WarningRecord* RecordOf(HWND dialog) {
  return reinterpret_cast<WarningRecord*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

HINSTANCE InstanceOf(HWND dialog) { return reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(dialog, GWLP_HINSTANCE)); }

HBITMAP LoadDibSection(HINSTANCE instance, int id) {
  return static_cast<HBITMAP>(
      ::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

void SetButtonFont(HWND dialog, WarningRecord& record) {
  LOGFONTW font{};
  if (::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font) != sizeof font) return;
  font.lfHeight = font.lfHeight * 3 / 2;
  font.lfWeight = font.lfWeight * 3 / 2;
  record.button_font.Reset(::CreateFontIndirectW(&font));
  if (!record.button_font) return;
  const auto handle = reinterpret_cast<WPARAM>(record.button_font.Get());
  ::SendDlgItemMessageW(dialog, IDOK, WM_SETFONT, handle, FALSE);
  ::SendDlgItemMessageW(dialog, IDCANCEL, WM_SETFONT, handle, FALSE);
}

// The window keeps every pixel of the picture that is not the key colour.
void ShapeWindow(HWND dialog, HBITMAP picture) {
  DIBSECTION section{};
  if (::GetObjectW(picture, sizeof section, &section) != sizeof section || section.dsBm.bmBits == nullptr ||
      section.dsBm.bmBitsPixel != 24) {
    return;  // not the picture we drew: the window stays rectangular
  }
  const BITMAP& bitmap = section.dsBm;
  const int height = bitmap.bmHeight < 0 ? -bitmap.bmHeight : bitmap.bmHeight;
  const auto stride = static_cast<std::size_t>(bitmap.bmWidthBytes);
  const Picture24 view{std::span(static_cast<const std::uint8_t*>(bitmap.bmBits), stride * height), bitmap.bmWidth,
                       height, stride, section.dsBmih.biHeight > 0};
  std::vector<ShapeRun> runs;
  try {
    runs = OpaqueRuns(view, GetRValue(kWarningKeyColour), GetGValue(kWarningKeyColour), GetBValue(kWarningKeyColour));
  } catch (const std::bad_alloc&) {
    return;
  }
  UniqueRegion shape(::CreateRectRgn(0, 0, 0, 0));
  if (!shape) return;
  for (const ShapeRun& run : runs) {
    const UniqueRegion row(::CreateRectRgn(run.x0, run.y, run.x1, run.y + 1));
    if (row) ::CombineRgn(shape.Get(), shape.Get(), row.Get(), RGN_OR);
  }
  // The window owns the region once it is set.
  if (::SetWindowRgn(dialog, shape.Get(), FALSE) != 0) (void)shape.Release();
}

void CreateCloseButton(HWND dialog, WarningRecord& record) {
  const HINSTANCE instance = InstanceOf(dialog);
  record.close_button = ::CreateWindowExW(0, common::kGoofyButtonClass.data(), L"", WS_CHILD, kCloseButtonX, 0,
                                          kCloseButtonSize, kCloseButtonSize, dialog, nullptr, instance,
                                          reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(IDCANCEL)));
  if (record.close_button == nullptr) return;
  ::ShowWindow(record.close_button, SW_SHOW);
  // The button owns its images from here on.
  if (const HBITMAP normal = LoadDibSection(instance, IDB_CLOSE)) {
    ::SendMessageW(record.close_button, common::kSetNormalImage, 0, reinterpret_cast<LPARAM>(normal));
  }
  if (const HBITMAP hover = LoadDibSection(instance, IDB_CLOSE_HOVER)) {
    ::SendMessageW(record.close_button, common::kSetHoverImage, 0, reinterpret_cast<LPARAM>(hover));
  }
}

BOOL OnInitDialog(HWND dialog) {
  auto* record = new (std::nothrow) WarningRecord;
  if (record == nullptr) {
    ::EndDialog(dialog, IDCANCEL);
    return FALSE;
  }
  ::SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
  SetButtonFont(dialog, *record);

  record->background.Reset(LoadDibSection(InstanceOf(dialog), IDB_WARNING));
  record->background_dc.Reset(::CreateCompatibleDC(nullptr));
  if (record->background && record->background_dc) {
    record->previous = ::SelectObject(record->background_dc.Get(), record->background.Get());
    ShapeWindow(dialog, record->background.Get());
  }
  CreateCloseButton(dialog, *record);

  const int left = (::GetSystemMetrics(SM_CXSCREEN) - kWarningWidth) / 2;
  const int top = (::GetSystemMetrics(SM_CYSCREEN) - kWarningHeight) / 2;
  ::SetWindowPos(dialog, nullptr, left, top, kWarningWidth, kWarningHeight, SWP_NOZORDER);
  ::MoveWindow(::GetDlgItem(dialog, IDOK), kYesX, kYesY, kYesWidth, kYesHeight, FALSE);
  ::MoveWindow(::GetDlgItem(dialog, IDCANCEL), kNoX, kNoY, kNoWidth, kNoHeight, FALSE);
  ::SetWindowPos(::GetDlgItem(dialog, IDC_DONT_WARN), nullptr, kCheckBoxX, kCheckBoxY, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
  ::SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(::LoadIconW(InstanceOf(dialog), MAKEINTRESOURCEW(IDI_VELTRONA))));
  return TRUE;
}

void OnPaint(HWND dialog) {
  const ScopedPaint paint(dialog);
  const WarningRecord* record = RecordOf(dialog);
  if (record == nullptr || !record->background_dc) return;
  ::BitBlt(paint.dc(), 0, 0, kWarningWidth, kWarningHeight, record->background_dc.Get(), 0, 0, SRCCOPY);
}

// The top band drags the window as a caption would.
INT_PTR OnHitTest(HWND dialog, LPARAM l_param) {
  POINT point{GET_X_LPARAM(l_param), GET_Y_LPARAM(l_param)};
  ::ScreenToClient(dialog, &point);
  if (!::PtInRect(&kWarningDragBand, point)) return FALSE;
  ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, HTCAPTION);
  return TRUE;
}

void OnAnswer(HWND dialog, int id) {
  if (::IsDlgButtonChecked(dialog, IDC_DONT_WARN) == BST_CHECKED) {
    // Without the user's key nothing is written; the window still closes.
    (void)config::WriteDwordSetting(config::SettingId::kDontWarnMe, 1);
  }
  ::EndDialog(dialog, id);
}

void OnDestroy(HWND dialog) {
  delete RecordOf(dialog);
  ::SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
}

}  // namespace

INT_PTR CALLBACK BrowserWarningProcedure(HWND dialog, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_PAINT:
      OnPaint(dialog);
      return TRUE;
    case WM_ERASEBKGND:
      // The picture covers the whole window; erasing first only flickers.
      return TRUE;
    case WM_NCHITTEST:
      return OnHitTest(dialog, l_param);
    case WM_COMMAND:
      if (LOWORD(w_param) == IDOK || LOWORD(w_param) == IDCANCEL) {
        OnAnswer(dialog, LOWORD(w_param));
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      OnDestroy(dialog);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace veltrona::engines
