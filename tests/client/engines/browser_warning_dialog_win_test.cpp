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
#include "tests/win_test_support/process_win.h"

namespace veltrona::engines {
namespace {

LPARAM At(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

// ImageMagick takes the shot from the screen Wine draws on.
bool Screenshot(HWND window, const std::string& name) {
  const std::wstring folder = test_support::BinFolder() + L"..\\screenshots";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring dos_path = folder + L"\\" + std::wstring(name.begin(), name.end());
  std::wstring unix_path;
  for (wchar_t c : dos_path.substr(2)) unix_path.push_back(c == L'\\' ? L'/' : c);
  RECT area{};
  if (!::GetWindowRect(window, &area)) return false;
  std::wstring line = L"Z:\\usr\\bin\\import -window root -crop " + std::to_wstring(area.right - area.left) + L"x" +
                      std::to_wstring(area.bottom - area.top) + L"+" + std::to_wstring(area.left) + L"+" +
                      std::to_wstring(area.top) + L" " + unix_path;
  ::DeleteFileW(dos_path.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  // Wine cannot wait on a Unix program's handle: wait for the whole file.
  return test_support::WaitFor(
      [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        return ::GetFileAttributesExW(dos_path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > 1000;
      },
      15000);
}

// The user's hive points at a fresh key of the test's own, with or without
// the client's key "Software\VeltronaVPN" in it.
class UserHive {
 public:
  explicit UserHive(bool with_client_key) : root_(L"Software\\VeltronaTests\\warning" + test_support::UniqueSuffix()) {
    ::RegCreateKeyExW(HKEY_CURRENT_USER, root_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user_, nullptr);
    ready_ = ::RegOverridePredefKey(HKEY_CURRENT_USER, user_) == ERROR_SUCCESS;
    if (with_client_key) ::RegCreateKeyExW(user_, L"Software\\VeltronaVPN", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &client_, nullptr);
  }
  ~UserHive() {
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (client_ != nullptr) ::RegCloseKey(client_);
    ::RegCloseKey(user_);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str());
  }
  bool ready() const { return ready_; }
  std::optional<DWORD> DontWarnMe() const {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegGetValueW(user_, L"Software\\VeltronaVPN", L"Dont Warn Me", RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    return value;
  }
  bool ClientKeyExists() const {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(user_, L"Software\\VeltronaVPN", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
  }

 private:
  std::wstring root_;
  HKEY user_ = nullptr;
  HKEY client_ = nullptr;
  bool ready_ = false;
};

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
      if (::IsWindow(dialog_)) ::PostMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
      thread_.join();
    }
  }
  HWND dialog() const { return dialog_; }
  HWND Control(int id) const { return ::GetDlgItem(dialog_, id); }
  HWND CloseButton() const { return ::FindWindowExW(dialog_, nullptr, common::kGoofyButtonClass.data(), nullptr); }
  // How the dialog ended (waits for it).
  INT_PTR Result() {
    thread_.join();
    return result_.load();
  }
  // A control's place in the dialog's client area.
  RECT PlaceOf(HWND control) const {
    RECT area{};
    ::GetWindowRect(control, &area);
    ::MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&area), 2);
    return area;
  }

 private:
  std::thread thread_;
  std::atomic<DWORD> thread_id_{0};
  std::atomic<INT_PTR> result_{-1};
  HWND dialog_ = nullptr;
};

class BrowserWarningTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(app::RegisterGoofyButtonClass(::GetModuleHandleW(nullptr))); }
  static void TearDownTestSuite() { app::UnregisterGoofyButtonClass(::GetModuleHandleW(nullptr)); }
};

void ExpectPlace(const RECT& place, int x, int y, int width, int height) {
  EXPECT_EQ(place.left, x);
  EXPECT_EQ(place.top, y);
  EXPECT_EQ(place.right - place.left, width);
  EXPECT_EQ(place.bottom - place.top, height);
}

TEST_F(BrowserWarningTest, TheWindowIsCentredLaidOutOverItsPictureAndShapedByIt) {
  UserHive hive(true);
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

  EXPECT_TRUE(Screenshot(warning.dialog(), "browser-warning.png"));
  ::SendMessageW(warning.CloseButton(), WM_MOUSEMOVE, 0, At(27, 27));
  ::RedrawWindow(warning.CloseButton(), nullptr, nullptr, RDW_UPDATENOW);
  EXPECT_TRUE(Screenshot(warning.dialog(), "browser-warning-close-hover.png"));
}

TEST_F(BrowserWarningTest, TheTopBandDragsTheWindow) {
  UserHive hive(true);
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
  UserHive hive(true);
  ASSERT_TRUE(hive.ready());
  {
    ShownWarning warning;
    ASSERT_NE(warning.CloseButton(), nullptr);
    const HWND close = warning.CloseButton();
    ::SendMessageW(close, WM_MOUSEMOVE, 0, At(27, 27));
    ::SendMessageW(close, WM_LBUTTONDOWN, MK_LBUTTON, At(27, 27));
    ::SendMessageW(close, WM_LBUTTONUP, 0, At(27, 27));
    EXPECT_EQ(warning.Result(), IDCANCEL);
  }
  EXPECT_FALSE(hive.DontWarnMe()) << "nothing is written while the box is clear";
  {
    ShownWarning warning;
    ::SendMessageW(warning.Control(IDC_DONT_WARN), BM_CLICK, 0, 0);
    ::SendMessageW(warning.Control(IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(warning.Result(), IDOK);
  }
  EXPECT_EQ(hive.DontWarnMe(), DWORD{1});
}

TEST_F(BrowserWarningTest, WithoutTheUsersKeyTheBoxWritesNothingAndTheWindowStillCloses) {
  UserHive hive(false);
  ASSERT_TRUE(hive.ready());
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
  EXPECT_FALSE(hive.ClientKeyExists());
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
