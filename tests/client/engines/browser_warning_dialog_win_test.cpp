#include "client/engines/browser_warning_dialog_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_handle_win.h"
#include "client/app/goofy_button_win.h"
#include "client/common/window_ids.h"
#include "client/resources/resource.h"
#include "tests/win_test_support/client_window_win.h"
#include "tests/win_test_support/registry_sandbox_win.h"
#include "tests/win_test_support/registry_values_win.h"

namespace veltrona::engines {
namespace {

LPARAM At(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

using test_support::KeyExists;
using test_support::kUserKey;
using test_support::ReadDword;
using test_support::UserHiveSandbox;

// The images the dialog hands its close button, caught on the way.
std::vector<HBITMAP> given_images;

LRESULT CALLBACK CatchImages(int code, WPARAM w_param, LPARAM l_param) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(l_param);
  if (code == HC_ACTION && (call->message == common::kSetNormalImage || call->message == common::kSetHoverImage)) {
    given_images.push_back(reinterpret_cast<HBITMAP>(call->lParam));
  }
  return ::CallNextHookEx(nullptr, code, w_param, l_param);
}

// Dialog 137 shown modally on a thread of its own, as the watch shows it
// on COM's thread; the test drives it from outside like a user.
class ShownWarning {
 public:
  ShownWarning() {
    given_images.clear();
    thread_ = std::thread([this] {
      const HHOOK hook = ::SetWindowsHookExW(WH_CALLWNDPROC, CatchImages, nullptr, ::GetCurrentThreadId());
      thread_id_.store(::GetCurrentThreadId());
      result_.store(::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_BROWSER_WARNING),
                                      ::GetDesktopWindow(), BrowserWarningProcedure, 0));
      if (hook != nullptr) ::UnhookWindowsHookEx(hook);
      ended_.store(true);
    });
    test_support::WaitFor([this] {
      const DWORD id = thread_id_.load();
      if (id == 0) return false;
      ::EnumThreadWindows(
          id,
          [](HWND window, LPARAM self) {
            if (::IsWindowVisible(window)) reinterpret_cast<ShownWarning*>(self)->dialog_ = window;
            return TRUE;
          },
          reinterpret_cast<LPARAM>(this));
      return dialog_ != nullptr;
    }, 10000);
  }
  ~ShownWarning() {
    if (thread_.joinable()) {
      End();
      thread_.join();
    }
  }
  HWND dialog() const { return dialog_; }
  HWND Control(int id) const { return ::GetDlgItem(dialog_, id); }
  HWND CloseButton() const { return ::FindWindowExW(dialog_, nullptr, common::kGoofyButtonClass.data(), nullptr); }
  // How the dialog ended. A dialog still open after ten seconds fails the
  // test and is closed, so that a lost click never hangs the run.
  INT_PTR Result() {
    if (!test_support::WaitFor([this] { return ended_.load(); }, 10000)) {
      ADD_FAILURE() << "the dialog did not end";
      End();
    }
    thread_.join();
    return result_.load();
  }
  // Puts the real pointer on the middle of the close button, as a user's
  // mouse would, and waits until the button holds the mouse.
  bool PointAtCloseButton() const {
    RECT area{};
    ::GetWindowRect(CloseButton(), &area);
    ::SetCursorPos((area.left + area.right) / 2, (area.top + area.bottom) / 2);
    return test_support::WaitFor([this] {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      return ::GetGUIThreadInfo(thread_id_.load(), &info) && info.hwndCapture == CloseButton();
    }, 10000);
  }
  // A control's place in the dialog's client area.
  RECT PlaceOf(HWND control) const {
    RECT area{};
    ::GetWindowRect(control, &area);
    ::MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&area), 2);
    return area;
  }

 private:
  // Cancels the dialog if it is up; a dialog not yet up ends its modal
  // loop on the quit message as soon as the loop starts.
  void End() const {
    if (::IsWindow(dialog_)) ::PostMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
    if (thread_id_.load() != 0) ::PostThreadMessageW(thread_id_.load(), WM_QUIT, 0, 0);
  }

  std::thread thread_;
  std::atomic<DWORD> thread_id_{0};
  std::atomic<INT_PTR> result_{-1};
  std::atomic<bool> ended_{false};
  HWND dialog_ = nullptr;
};

// Presses and lets go of the real left mouse button where the pointer is.
void ClickLeftButton() {
  INPUT click[2]{};
  click[0].type = click[1].type = INPUT_MOUSE;
  click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ::SendInput(2, click, sizeof(INPUT));
}

// The user's hive points at a fresh key of the test's own, without the
// client's key unless a test makes it.
class BrowserWarningTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(app::RegisterGoofyButtonClass(::GetModuleHandleW(nullptr))); }
  static void TearDownTestSuite() { app::UnregisterGoofyButtonClass(::GetModuleHandleW(nullptr)); }
  void SetUp() override {
    ASSERT_TRUE(hive_.Ready());
    // The pointer starts off the dialog, wherever an earlier test left it.
    ::SetCursorPos(0, 0);
  }

  UserHiveSandbox hive_{L"warning"};
};

void ExpectPlace(const RECT& place, int x, int y, int width, int height) {
  EXPECT_EQ(place.left, x);
  EXPECT_EQ(place.top, y);
  EXPECT_EQ(place.right - place.left, width);
  EXPECT_EQ(place.bottom - place.top, height);
}

TEST_F(BrowserWarningTest, TheWindowIsCentredLaidOutOverItsPictureAndShapedByIt) {
  ASSERT_TRUE(test_support::CreateKey(HKEY_CURRENT_USER, kUserKey));
  ShownWarning warning;
  ASSERT_NE(warning.dialog(), nullptr);
  RECT window{};
  ::GetWindowRect(warning.dialog(), &window);
  EXPECT_EQ(window.right - window.left, kWarningWidth);
  EXPECT_EQ(window.bottom - window.top, kWarningHeight);
  EXPECT_EQ(window.left, (::GetSystemMetrics(SM_CXSCREEN) - kWarningWidth) / 2);
  EXPECT_EQ(window.top, (::GetSystemMetrics(SM_CYSCREEN) - kWarningHeight) / 2);
  EXPECT_TRUE(::GetWindowLongPtrW(warning.dialog(), GWL_EXSTYLE) & WS_EX_TOPMOST);

  ExpectPlace(warning.PlaceOf(warning.Control(IDOK)), 187, 199, 190, 35);
  ExpectPlace(warning.PlaceOf(warning.Control(IDCANCEL)), 442, 199, 105, 35);
  const RECT check_box = warning.PlaceOf(warning.Control(IDC_DONT_WARN));
  EXPECT_EQ(check_box.left, 396);
  EXPECT_EQ(check_box.top, 261);
  ASSERT_NE(warning.CloseButton(), nullptr);
  EXPECT_TRUE(::IsWindowVisible(warning.CloseButton()));
  ExpectPlace(warning.PlaceOf(warning.CloseButton()), kCloseButtonX, 0, kCloseButtonSize, kCloseButtonSize);

  // The buttons' font: the default GUI font at half as high and heavy again.
  LOGFONTW standard{}, buttons{};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof standard, &standard);
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(warning.Control(IDOK), WM_GETFONT, 0, 0));
  ASSERT_EQ(::GetObjectW(font, sizeof buttons, &buttons), static_cast<int>(sizeof buttons));
  EXPECT_EQ(buttons.lfHeight, standard.lfHeight * 3 / 2);
  EXPECT_EQ(buttons.lfWeight, standard.lfWeight * 3 / 2);
  EXPECT_EQ(::SendMessageW(warning.Control(IDCANCEL), WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));

  // Every pixel of the key colour is a hole, every other one is window.
  const UniqueRegion shape(::CreateRectRgn(0, 0, 0, 0));
  ASSERT_NE(::GetWindowRgn(warning.dialog(), shape.Get()), ERROR);
  const UniqueBitmap picture(static_cast<HBITMAP>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_WARNING), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  const UniqueMemoryDc memory(::CreateCompatibleDC(nullptr));
  const ScopedSelectObject selected(memory.Get(), picture.Get());
  int holes = 0, wrong = 0;
  for (int y = 0; y < kWarningHeight; ++y) {
    for (int x = 0; x < kWarningWidth; ++x) {
      const bool hole = ::GetPixel(memory.Get(), x, y) == kWarningKeyColour;
      holes += hole ? 1 : 0;
      if ((::PtInRegion(shape.Get(), x, y) != FALSE) == hole) ++wrong;
    }
  }
  EXPECT_GT(holes, 4 * 20) << "the rounded corners are holes";
  EXPECT_EQ(wrong, 0);
  EXPECT_FALSE(::PtInRegion(shape.Get(), 0, 0));
  EXPECT_FALSE(::PtInRegion(shape.Get(), kWarningWidth - 1, kWarningHeight - 1));
  EXPECT_TRUE(::PtInRegion(shape.Get(), kWarningWidth / 2, kWarningHeight / 2));
  EXPECT_TRUE(::PtInRegion(shape.Get(), 0, kWarningHeight / 2));

  EXPECT_TRUE(test_support::Screenshot(warning.dialog(), test_support::ScreenshotPath("browser-warning.png")));
  EXPECT_TRUE(warning.PointAtCloseButton()) << "the close button holds the mouse while the pointer is over it";
  ::RedrawWindow(warning.CloseButton(), nullptr, nullptr, RDW_UPDATENOW);
  EXPECT_TRUE(
      test_support::Screenshot(warning.dialog(), test_support::ScreenshotPath("browser-warning-close-hover.png")));
}

TEST_F(BrowserWarningTest, TheTopBandDragsTheWindow) {
  ASSERT_TRUE(test_support::CreateKey(HKEY_CURRENT_USER, kUserKey));
  ShownWarning warning;
  ASSERT_NE(warning.dialog(), nullptr);
  auto hit = [&](int x, int y) {
    POINT point{x, y};
    ::ClientToScreen(warning.dialog(), &point);
    return ::SendMessageW(warning.dialog(), WM_NCHITTEST, 0, At(point.x, point.y));
  };
  EXPECT_EQ(hit(3, 3), HTCAPTION);
  EXPECT_EQ(hit(509, 52), HTCAPTION);
  EXPECT_EQ(hit(200, 20), HTCAPTION);
  EXPECT_NE(hit(2, 20), HTCAPTION);
  EXPECT_NE(hit(200, 53), HTCAPTION);
  EXPECT_NE(hit(510, 20), HTCAPTION);
  EXPECT_NE(hit(281, 150), HTCAPTION);
}

TEST_F(BrowserWarningTest, TheCloseButtonAnswersNoAndTheTickedBoxStopsLaterWarnings) {
  ASSERT_TRUE(test_support::CreateKey(HKEY_CURRENT_USER, kUserKey));
  {
    ShownWarning warning;
    ASSERT_NE(warning.CloseButton(), nullptr);
    ASSERT_TRUE(warning.PointAtCloseButton());
    ClickLeftButton();
    EXPECT_EQ(warning.Result(), IDCANCEL);
  }
  EXPECT_FALSE(ReadDword(hive_.User(), kUserKey, L"Dont Warn Me")) << "nothing is written while the box is clear";
  {
    ShownWarning warning;
    ::SendMessageW(warning.Control(IDC_DONT_WARN), BM_CLICK, 0, 0);
    ::SendMessageW(warning.Control(IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(warning.Result(), IDOK);
  }
  EXPECT_EQ(ReadDword(hive_.User(), kUserKey, L"Dont Warn Me"), DWORD{1});
}

TEST_F(BrowserWarningTest, WithoutTheUsersKeyTheBoxWritesNothingAndTheWindowStillCloses) {
  ShownWarning warning;
  ASSERT_NE(warning.dialog(), nullptr);
  const DWORD objects_before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  const auto font = reinterpret_cast<HGDIOBJ>(::SendMessageW(warning.Control(IDOK), WM_GETFONT, 0, 0));
  ASSERT_EQ(::GetObjectType(font), static_cast<DWORD>(OBJ_FONT)) << "the buttons have the larger font";
  ASSERT_EQ(given_images.size(), 2u) << "the close button got its normal and its hover image";
  for (HBITMAP image : given_images) EXPECT_EQ(::GetObjectType(image), static_cast<DWORD>(OBJ_BITMAP));
  ::SendMessageW(warning.Control(IDC_DONT_WARN), BM_CLICK, 0, 0);
  ::SendMessageW(warning.Control(IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_EQ(warning.Result(), IDCANCEL);
  EXPECT_FALSE(KeyExists(hive_.User(), kUserKey));
  // The font and the close button's images are deleted with the window.
  EXPECT_EQ(::GetObjectType(font), 0u);
  for (HBITMAP image : given_images) EXPECT_EQ(::GetObjectType(image), 0u);
  // So are the picture, its context and the button's contexts; only
  // Windows counts them (Wine answers 0).
  if (objects_before != 0) {
    EXPECT_LE(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), objects_before - 7);
  }
}

}  // namespace
}  // namespace veltrona::engines
