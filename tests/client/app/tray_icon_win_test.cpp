#include "client/app/tray_icon_win.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace veltrona::app {
namespace {

// The shell as the tray sees it: answers from a script, records every call.
struct FakeShell {
  std::vector<DWORD> calls;
  std::vector<BOOL> answers;  // consumed in order; TRUE once they run out
  std::wstring last_tip;
  HICON last_icon = nullptr;
  UINT last_flags = 0;

  NotifyIconFunction Function() {
    return [this](DWORD message, NOTIFYICONDATAW* data) {
      calls.push_back(message);
      last_tip = data->szTip;
      last_icon = data->hIcon;
      last_flags = data->uFlags;
      EXPECT_EQ(data->cbSize, sizeof(NOTIFYICONDATAW));
      EXPECT_EQ(data->uID, 1u);
      EXPECT_EQ(data->uCallbackMessage, static_cast<UINT>(WM_USER + 1));
      if (answers.empty()) return TRUE;
      const BOOL answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    };
  }
};

const HICON kIcon = reinterpret_cast<HICON>(static_cast<INT_PTR>(0x136));

TEST(TrayIcon, AddTriesFiveTimesAndOnlyASuccessMarksTheIconPresent) {
  FakeShell shell;
  shell.answers = {FALSE, FALSE, FALSE, FALSE, FALSE};
  TrayIcon tray(nullptr, shell.Function());
  tray.SetLook(kIcon, L"Veltrona VPN Free Trial VPN (Disconnected)");
  EXPECT_FALSE(tray.Add());
  EXPECT_EQ(shell.calls, std::vector<DWORD>(5, NIM_ADD));
  EXPECT_FALSE(tray.present());

  shell.calls.clear();
  shell.answers = {FALSE, FALSE, TRUE};
  EXPECT_TRUE(tray.Add());
  EXPECT_EQ(shell.calls.size(), 3u);
  EXPECT_TRUE(tray.present());
  EXPECT_EQ(shell.last_tip, L"Veltrona VPN Free Trial VPN (Disconnected)");
  EXPECT_EQ(shell.last_icon, kIcon);
  EXPECT_EQ(shell.last_flags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
}

TEST(TrayIcon, AModifyTheShellRefusesPutsTheIconUpAgain) {
  FakeShell shell;
  TrayIcon tray(nullptr, shell.Function());
  ASSERT_TRUE(tray.Add());
  shell.calls.clear();
  shell.answers = {FALSE, FALSE, FALSE, FALSE, FALSE, FALSE, TRUE};
  tray.SetLook(kIcon, L"Veltrona VPN");
  EXPECT_TRUE(tray.Modify());
  std::vector<DWORD> expected(5, NIM_MODIFY);
  expected.push_back(NIM_DELETE);
  expected.push_back(NIM_ADD);
  EXPECT_EQ(shell.calls, expected);
  EXPECT_TRUE(tray.present());
  EXPECT_EQ(shell.last_tip, L"Veltrona VPN");
}

TEST(TrayIcon, TheShellRestartingBringsTheIconBackWithItsLastLook) {
  FakeShell shell;
  TrayIcon tray(nullptr, shell.Function());
  tray.SetLook(kIcon, L"Veltrona VPN");
  ASSERT_TRUE(tray.Add());
  shell.calls.clear();
  EXPECT_TRUE(tray.Readd());
  EXPECT_EQ(shell.calls, std::vector<DWORD>{NIM_ADD});
  EXPECT_EQ(shell.last_tip, L"Veltrona VPN");
  EXPECT_TRUE(tray.Delete());
  EXPECT_FALSE(tray.present());
}

TEST(TrayIcon, ALongTipIsCutToWhatTheShellHolds) {
  FakeShell shell;
  TrayIcon tray(nullptr, shell.Function());
  tray.SetLook(kIcon, std::wstring(300, L'x'));
  ASSERT_TRUE(tray.Add());
  EXPECT_EQ(shell.last_tip, std::wstring(127, L'x'));
}

struct ShownItem {
  std::wstring text;
  bool enabled;
  bool operator==(const ShownItem&) const = default;
};

std::vector<ShownItem> ItemsOf(HMENU menu) {
  std::vector<ShownItem> items;
  for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
    const UINT state = ::GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    items.push_back({text, (state & (MF_DISABLED | MF_GRAYED)) == 0});
  }
  return items;
}

// Menu 109 from this program's copy of the client's resources.
TEST(TrayMenu, TheFirstItemFollowsTheEngineState) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  for (const auto& [state, first] : {std::pair{0, ShownItem{L"Connect", true}},
                                     std::pair{1, ShownItem{L"Connect", false}},
                                     std::pair{3, ShownItem{L"Disconnect", true}}}) {
    const UniqueMenu menu = LoadTrayMenu(instance, state);
    ASSERT_TRUE(menu);
    EXPECT_EQ(ItemsOf(::GetSubMenu(menu.Get(), 0)), (std::vector<ShownItem>{first, {L"E&xit", true}})) << state;
    EXPECT_EQ(ItemsOf(::GetSubMenu(menu.Get(), 1)), (std::vector<ShownItem>{{L"&About ...", true}}));
  }
}

}  // namespace
}  // namespace veltrona::app
