// Snoopet without a mouse: keystrokes sent to the real window as a keyboard would type them.
#include "spy_fixture.h"

namespace spy_test {
namespace {

using Keyboard = SpyTest;
using testing_support::TestWindow;

// One key pressed and released (with Shift or Ctrl held when asked), then the keys handled.
void Press(WORD key, WORD held = 0) {
  std::vector<INPUT> in;
  auto add = [&](WORD vk, bool up) {
    INPUT i{};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = vk;
    i.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    in.push_back(i);
  };
  if (held) add(held, false);
  add(key, false);
  add(key, true);
  if (held) add(held, true);
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
  PumpFor(80);
}

TEST_F(Keyboard, FocusStartsInTheTreeTabGoesRoundAndTheToolbarsActionsHaveKeys) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SetForegroundWindow(w.hwnd());
  PumpFor(100);
  ASSERT_EQ(w.hwnd(), GetForegroundWindow());
  EXPECT_EQ(w.tree(), GetFocus()) << "the keyboard starts where a window is chosen";

  Press(VK_TAB);
  EXPECT_EQ(w.log(), GetFocus());
  Press(VK_TAB);
  EXPECT_EQ(w.toolbar(), GetFocus());
  Press(VK_TAB);
  EXPECT_EQ(w.tree(), GetFocus());
  Press(VK_TAB, VK_SHIFT);
  EXPECT_EQ(w.toolbar(), GetFocus());
  Press(VK_TAB, VK_SHIFT);
  EXPECT_EQ(w.log(), GetFocus());
  // With the details pane, it is in the round too.
  Press('D', VK_CONTROL);
  EXPECT_TRUE(w.details_visible());
  Press(VK_TAB);
  EXPECT_EQ(w.details(), GetFocus());
  Press(VK_TAB);
  EXPECT_EQ(w.toolbar(), GetFocus());
  Press('D', VK_CONTROL);
  EXPECT_FALSE(w.details_visible());

  // In the toolbar: the arrows choose a button, Space presses it.
  Press(VK_HOME);
  Press(VK_RIGHT);
  EXPECT_EQ(1, SendMessageW(w.toolbar(), TB_GETHOTITEM, 0, 0));
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  Press(VK_SPACE);
  EXPECT_TRUE(SpyPressed());
  EXPECT_TRUE(w.spying());
  SendMessageW(target.hwnd(), WM_USER, 5, 0);
  EXPECT_EQ(L"400, 5, 0", ShownLines(w).back());
  Press(VK_SPACE);
  EXPECT_FALSE(w.spying());

  // F8 anywhere in the window: Spy pressed and released.
  Press(VK_TAB);
  EXPECT_EQ(w.tree(), GetFocus());
  Press(VK_F8);
  EXPECT_TRUE(SpyPressed());
  EXPECT_TRUE(w.spying());
  Press(VK_F8);
  EXPECT_FALSE(SpyPressed());
  EXPECT_FALSE(w.spying());

  EXPECT_EQ(L"Exit Program (Alt+F4)", ToolTip(w.toolbar(), spy::kButtonExit));
  EXPECT_EQ(L"Spy on the selected window (F8)", ToolTip(w.toolbar(), spy::kButtonSpy));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(Keyboard, TheFocusComesBackToItsControlWhenTheWindowIsActivatedAgain) {
  auto& w = Open();
  SetForegroundWindow(w.hwnd());
  PumpFor(100);
  Press(VK_TAB);
  ASSERT_EQ(w.log(), GetFocus());
  TestWindow other(nullptr, L"Other");
  ShowWindow(other.hwnd(), SW_SHOW);
  SetForegroundWindow(other.hwnd());
  PumpFor(100);
  SetForegroundWindow(w.hwnd());
  PumpFor(100);
  EXPECT_EQ(w.log(), GetFocus()) << "not the bare main window";
}

}  // namespace
}  // namespace spy_test
