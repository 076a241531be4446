#include "client/app/goofy_button_win.h"

#include <windowsx.h>

#include <new>
#include <string>

#include "base/unique_handle_win.h"
#include "client/common/window_ids.h"

namespace veltrona::app {
namespace {

// One image in its memory context. The bitmap the context held before is
// put back before the image is deleted, so neither is deleted while selected.
struct ImageSlot {
  UniqueMemoryDc dc;
  UniqueBitmap image;
  HGDIOBJ previous = nullptr;

  void Set(HBITMAP bitmap) noexcept {
    if (!dc) return;
    if (image) {
      ::SelectObject(dc.Get(), previous);
      image.Reset();
    }
    previous = ::SelectObject(dc.Get(), bitmap);
    image.Reset(bitmap);
  }

  ~ImageSlot() {
    if (dc && image) ::SelectObject(dc.Get(), previous);
    image.Reset();
    dc.Reset();
  }
};

struct ButtonRecord {
  ImageSlot normal;
  ImageSlot hover;
  bool hot = false;
  bool pressed = false;
  UINT_PTR command_id = 0;
};

ButtonRecord* RecordOf(HWND window) {
  return reinterpret_cast<ButtonRecord*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

bool InsideClient(HWND window, LPARAM l_param) {
  RECT area{};
  ::GetClientRect(window, &area);
  const POINT point{GET_X_LPARAM(l_param), GET_Y_LPARAM(l_param)};
  return ::PtInRect(&area, point) != FALSE;
}

void Redraw(HWND window) { ::InvalidateRect(window, nullptr, FALSE); }

LRESULT OnCreate(HWND window, const CREATESTRUCTW& create) {
  auto* record = new (std::nothrow) ButtonRecord;
  if (record == nullptr) return -1;
  record->command_id = reinterpret_cast<UINT_PTR>(create.lpCreateParams);
  record->normal.dc.Reset(::CreateCompatibleDC(nullptr));
  record->hover.dc.Reset(::CreateCompatibleDC(nullptr));
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
  return 0;
}

void OnDestroy(HWND window) {
  delete RecordOf(window);
  ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
}

void OnPaint(HWND window, const ButtonRecord& record) {
  const ScopedPaint paint(window);
  RECT area{};
  ::GetClientRect(window, &area);
  const HDC source = record.hot ? record.hover.dc.Get() : record.normal.dc.Get();
  if (source != nullptr) ::BitBlt(paint.dc(), 0, 0, area.right, area.bottom, source, 0, 0, SRCCOPY);
}

void OnMouseMove(HWND window, ButtonRecord& record, LPARAM l_param) {
  if (!record.hot) {
    ::SetCapture(window);
    record.hot = true;
    Redraw(window);
  } else if (!record.pressed && !InsideClient(window, l_param)) {
    ::ReleaseCapture();
    record.hot = false;
    Redraw(window);
  }
}

void OnLeftButtonUp(HWND window, ButtonRecord& record, LPARAM l_param) {
  if (!record.hot || !record.pressed) return;
  if (InsideClient(window, l_param)) {
    // The button stays pressed with the capture; its user usually closes.
    const WPARAM command = record.command_id <= 0xFFFF ? MAKEWPARAM(record.command_id, 0) : record.command_id;
    ::PostMessageW(::GetParent(window), WM_COMMAND, command, reinterpret_cast<LPARAM>(window));
    return;
  }
  ::ReleaseCapture();
  record.hot = false;
  record.pressed = false;
  Redraw(window);
}

}  // namespace

bool RegisterGoofyButtonClass(HINSTANCE instance) noexcept {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = GoofyButtonProcedure;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = common::kGoofyButtonClass.data();
  return ::RegisterClassW(&window_class) != 0;
}

void UnregisterGoofyButtonClass(HINSTANCE instance) noexcept {
  ::UnregisterClassW(common::kGoofyButtonClass.data(), instance);
}

LRESULT CALLBACK GoofyButtonProcedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  if (message == WM_CREATE) return OnCreate(window, *reinterpret_cast<const CREATESTRUCTW*>(l_param));
  ButtonRecord* record = RecordOf(window);
  if (record == nullptr) return ::DefWindowProcW(window, message, w_param, l_param);
  switch (message) {
    case WM_DESTROY:
      OnDestroy(window);
      return 0;
    case WM_PAINT:
      OnPaint(window, *record);
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(window, *record, l_param);
      return 0;
    case WM_LBUTTONDOWN:
      if (record->hot && !record->pressed) record->pressed = true;
      return 0;
    case WM_LBUTTONUP:
      OnLeftButtonUp(window, *record, l_param);
      return 0;
    case common::kSetNormalImage:
      record->normal.Set(reinterpret_cast<HBITMAP>(l_param));
      return 0;
    case common::kSetHoverImage:
      record->hover.Set(reinterpret_cast<HBITMAP>(l_param));
      return 0;
    default:
      return ::DefWindowProcW(window, message, w_param, l_param);
  }
}

}  // namespace veltrona::app
