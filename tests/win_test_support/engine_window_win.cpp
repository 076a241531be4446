#include "tests/win_test_support/engine_window_win.h"

#include <utility>

#include "client/engines/openvpn_win.h"
#include "client/resources/resource.h"

namespace veltrona::test_support {
namespace {

constexpr wchar_t kClassName[] = L"VeltronaEngineTestWindow";
constexpr UINT_PTR kTimerStatistics = 34521;

}  // namespace

EngineWindow::EngineWindow() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &EngineWindow::Procedure;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = kClassName;
  ::RegisterClassW(&window_class);  // already there from an earlier test is fine
  window_ = ::CreateWindowExW(0, kClassName, L"Veltrona VPN Free Trial 3.2", WS_OVERLAPPED, 0, 0, 300, 300, nullptr,
                              nullptr, window_class.hInstance, nullptr);
  for (const auto& [id, text] : {std::pair{IDC_BYTES_RECEIVED, L"0 byte"},
                                 std::pair{IDC_BYTES_SENT, L"0 byte"},
                                 std::pair{IDC_STATUS, L"disconnected"}}) {
    ::CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE, 0, 0, 100, 16, window_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), window_class.hInstance, nullptr);
  }
}

EngineWindow::~EngineWindow() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

void EngineWindow::Drive(engines::VpnInterface* engine) {
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(engine));
  engine->Attach(nullptr, window_);
  ::SetTimer(window_, kTimerStatistics, 1000, nullptr);
}

void EngineWindow::Release() {
  ::KillTimer(window_, kTimerStatistics);
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
}

std::wstring EngineWindow::Text(int id) const {
  wchar_t text[260] = {};
  ::GetDlgItemTextW(window_, id, text, 260);
  return text;
}

bool EngineWindow::PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    if (done()) return true;
    if (::GetTickCount64() > deadline) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
}

LRESULT CALLBACK EngineWindow::Procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  auto* engine = reinterpret_cast<engines::VpnInterface*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (engine != nullptr && message == engines::WM_VPN_SOCKET) {
    engine->OnEvent(static_cast<uint32_t>(w_param), static_cast<int32_t>(l_param));
    return TRUE;
  }
  if (engine != nullptr && message == WM_TIMER && w_param == kTimerStatistics) {
    engine->UpdateStatistics();
    return 0;
  }
  return ::DefWindowProcW(window, message, w_param, l_param);
}

long long ByteCount(const std::wstring& text) {
  const size_t blank = text.find(L" bytes");
  if (blank == std::wstring::npos || blank == 0 || blank + 6 != text.size()) return -1;
  try {
    return std::stoll(text.substr(0, blank));
  } catch (...) {
    return -1;
  }
}

}  // namespace veltrona::test_support
