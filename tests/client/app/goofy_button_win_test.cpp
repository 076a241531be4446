#include "client/app/goofy_button_win.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/unique_handle_win.h"
#include "client/common/window_ids.h"

namespace veltrona::app {
namespace {

constexpr UINT_PTR kCommand = 2;
constexpr int kSize = 55;
constexpr COLORREF kNormalColour = RGB(200, 0, 0);
constexpr COLORREF kHoverColour = RGB(0, 180, 0);

HBITMAP SolidBitmap(COLORREF colour) {
  const ScopedWindowDc screen(nullptr);
  UniqueBitmap bitmap(::CreateCompatibleBitmap(screen.dc(), kSize, kSize));
  const UniqueMemoryDc memory(::CreateCompatibleDC(screen.dc()));
  const ScopedSelectObject selected(memory.Get(), bitmap.Get());
  const UniqueBrush brush(::CreateSolidBrush(colour));
  const RECT all{0, 0, kSize, kSize};
  ::FillRect(memory.Get(), &all, brush.Get());
  return bitmap.Release();
}

LPARAM At(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

// A parent window on the screen with one button in it; the commands the
// button posts wait in the parent's queue.
class GoofyButtonTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSW parent_class{};
    parent_class.lpfnWndProc = ::DefWindowProcW;
    parent_class.hInstance = ::GetModuleHandleW(nullptr);
    parent_class.lpszClassName = L"GoofyButtonTestParent";
    ::RegisterClassW(&parent_class);
    ASSERT_TRUE(RegisterGoofyButtonClass(::GetModuleHandleW(nullptr)));
  }
  static void TearDownTestSuite() {
    UnregisterGoofyButtonClass(::GetModuleHandleW(nullptr));
    ::UnregisterClassW(L"GoofyButtonTestParent", ::GetModuleHandleW(nullptr));
  }

  void SetUp() override {
    parent_ = ::CreateWindowExW(0, L"GoofyButtonTestParent", L"parent", WS_POPUP | WS_VISIBLE, 100, 100, 200, 200,
                                nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent_, nullptr);
    button_ = ::CreateWindowExW(0, common::kGoofyButtonClass.data(), L"", WS_CHILD, 10, 10, kSize, kSize, parent_,
                                nullptr, ::GetModuleHandleW(nullptr), reinterpret_cast<LPVOID>(kCommand));
    ASSERT_NE(button_, nullptr);
    ::ShowWindow(button_, SW_SHOW);
    normal_ = SolidBitmap(kNormalColour);
    hover_ = SolidBitmap(kHoverColour);
    ::SendMessageW(button_, common::kSetNormalImage, 0, reinterpret_cast<LPARAM>(normal_));
    ::SendMessageW(button_, common::kSetHoverImage, 0, reinterpret_cast<LPARAM>(hover_));
  }
  void TearDown() override {
    if (::IsWindow(button_)) ::DestroyWindow(button_);
    ::DestroyWindow(parent_);
  }

  void Send(UINT message, LPARAM position) const { ::SendMessageW(button_, message, 0, position); }

  // The commands posted to the parent so far (taken out of its queue).
  std::vector<MSG> PostedCommands() const {
    std::vector<MSG> commands;
    MSG message{};
    while (::PeekMessageW(&message, parent_, WM_COMMAND, WM_COMMAND, PM_REMOVE)) commands.push_back(message);
    return commands;
  }

  COLORREF Shown() const {
    ::RedrawWindow(button_, nullptr, nullptr, RDW_UPDATENOW);
    const ScopedWindowDc dc(button_);
    return ::GetPixel(dc.dc(), kSize / 2, kSize / 2);
  }

  HWND parent_ = nullptr;
  HWND button_ = nullptr;
  HBITMAP normal_ = nullptr;
  HBITMAP hover_ = nullptr;
};

TEST_F(GoofyButtonTest, HoverShowsAtOnceAndLeavingLetsTheCaptureGo) {
  EXPECT_EQ(Shown(), kNormalColour);
  Send(WM_MOUSEMOVE, At(20, 20));
  EXPECT_EQ(::GetCapture(), button_);
  EXPECT_EQ(Shown(), kHoverColour);
  Send(WM_MOUSEMOVE, At(30, 30));  // still inside: nothing changes
  EXPECT_EQ(::GetCapture(), button_);
  Send(WM_MOUSEMOVE, At(kSize + 5, 20));
  EXPECT_EQ(::GetCapture(), nullptr);
  EXPECT_EQ(Shown(), kNormalColour);
  EXPECT_TRUE(PostedCommands().empty());
}

TEST_F(GoofyButtonTest, AClickInsidePostsItsCommandAndStaysPressed) {
  Send(WM_MOUSEMOVE, At(20, 20));
  Send(WM_LBUTTONDOWN, At(20, 20));
  // While pressed, leaving changes nothing until the button is released.
  Send(WM_MOUSEMOVE, At(-10, -10));
  EXPECT_EQ(::GetCapture(), button_);
  EXPECT_EQ(Shown(), kHoverColour);
  Send(WM_LBUTTONUP, At(20, 20));
  std::vector<MSG> commands = PostedCommands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wParam, MAKEWPARAM(kCommand, 0));
  EXPECT_EQ(commands[0].lParam, reinterpret_cast<LPARAM>(button_));
  // Still pressed with the capture: every further release inside posts again.
  EXPECT_EQ(::GetCapture(), button_);
  Send(WM_LBUTTONUP, At(5, 5));
  EXPECT_EQ(PostedCommands().size(), 1u);
  // A release outside returns it to normal.
  Send(WM_LBUTTONUP, At(kSize, 0));
  EXPECT_EQ(::GetCapture(), nullptr);
  EXPECT_EQ(Shown(), kNormalColour);
  EXPECT_TRUE(PostedCommands().empty());
}

TEST_F(GoofyButtonTest, PressInsideReleaseOutsidePostsNothing) {
  Send(WM_MOUSEMOVE, At(20, 20));
  Send(WM_LBUTTONDOWN, At(20, 20));
  Send(WM_LBUTTONUP, At(80, 20));
  EXPECT_TRUE(PostedCommands().empty());
  EXPECT_EQ(::GetCapture(), nullptr);
  EXPECT_EQ(Shown(), kNormalColour);
  // A press without hover first does nothing either.
  Send(WM_LBUTTONDOWN, At(20, 20));
  Send(WM_LBUTTONUP, At(20, 20));
  EXPECT_TRUE(PostedCommands().empty());
}

TEST_F(GoofyButtonTest, TheButtonDeletesTheImagesItWasGiven) {
  const HBITMAP second = SolidBitmap(RGB(0, 0, 200));
  ::SendMessageW(button_, common::kSetNormalImage, 0, reinterpret_cast<LPARAM>(second));
  EXPECT_EQ(::GetObjectType(normal_), 0u) << "the first normal image is deleted";
  EXPECT_EQ(::GetObjectType(second), static_cast<DWORD>(OBJ_BITMAP));
  EXPECT_EQ(Shown(), RGB(0, 0, 200));

  const DWORD objects_before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  ::DestroyWindow(button_);
  EXPECT_EQ(::GetObjectType(second), 0u);
  EXPECT_EQ(::GetObjectType(hover_), 0u);
  // The two images and the two memory contexts. Wine does not count GDI
  // objects (it answers 0); Windows does.
  if (objects_before != 0) {
    EXPECT_EQ(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), objects_before - 4);
  }
}

}  // namespace
}  // namespace veltrona::app
