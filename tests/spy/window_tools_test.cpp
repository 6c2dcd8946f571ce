// The window's opt-in tools: the inspector, finding a window or a line, the outline's flash,
// always on top, decimal parameters and the log's length. None of them is there until asked for.
#include "hex.h"
#include "settings.h"
#include "spy_fixture.h"

namespace spy_test {
namespace {

using WindowTools = SpyTest;
using testing_support::TestWindow;

std::wstring TextOf(HWND h) {
  const int n = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(h, s.data(), n + 1);
  s.resize(static_cast<size_t>(n));
  return s;
}

HWND SelectedWindow(spy::MainWindow& w) {
  auto node = Next(w.tree(), nullptr, TVGN_CARET);
  return node ? reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(w.NodeTag(node).c_str(), nullptr, 10))) : nullptr;
}

TEST_F(WindowTools, TheInspectorTellsTheClassTheWindowAndItsProgram) {
  TestWindow target(nullptr, L"Inspected");
  SetWindowLongPtrW(target.hwnd(), GWLP_ID, 0);
  SetPropW(target.hwnd(), L"SnoopetProp", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x1234)));
  SetWindowLongW(target.hwnd(), GWL_EXSTYLE, GetWindowLongW(target.hwnd(), GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
  const std::wstring text = spy::MainWindow::InspectWindow(target.hwnd());
  for (const wchar_t* part : {L"Class\t", L"Window procedure\t", L"Extra bytes\tclass ", L"WS_CAPTION", L"WS_SYSMENU",
                              L"WS_EX_TOOLWINDOW", L"Parent\t", L"Owner\t(none)", L"Window rectangle\t(",
                              L"Client rectangle\t(", L"Dots per inch\t", L"SnoopetProp = 0x1234", L"Thread\tid "})
    EXPECT_NE(std::wstring::npos, text.find(part)) << testing::PrintToString(part) << "\n" << testing::PrintToString(text);
  EXPECT_NE(std::wstring::npos, text.find(L", id " + std::to_wstring(GetCurrentProcessId())));
  EXPECT_NE(std::wstring::npos, text.find(sizeof(void*) == 8 ? L", 64-bit" : L", 32-bit"));
  RemovePropW(target.hwnd(), L"SnoopetProp");

  // From the tree: its own window, its text selectable and copyable.
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  SetFocus(w.tree());
  SendMessageW(w.tree(), WM_KEYDOWN, 'I', 0);  // without Ctrl: the tree's own search
  EXPECT_EQ(nullptr, w.inspector());
  w.RunLogCommand(spy::kCmdInspect);
  ASSERT_NE(nullptr, w.inspector());
  EXPECT_TRUE(IsWindowVisible(w.inspector()));
  HWND edit = GetWindow(w.inspector(), GW_CHILD);
  EXPECT_EQ(0u, TextOf(edit).find(L"Window\t" + spy::MessageDecoder::DescribeWindow(reinterpret_cast<INT_PTR>(target.hwnd()))));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WindowTools, FindAWindowByCaptionClassHandleOrProcessIdAndALineOfTheLog) {
  TestWindow a(nullptr, L"Needle one"), b(nullptr, L"needle two");
  auto& w = Open();
  SelectNode(w.FindNode(L"root"));
  EXPECT_TRUE(w.FindWindowNode(L"NEEDLE", true));
  const HWND first = SelectedWindow(w);
  EXPECT_TRUE(first == a.hwnd() || first == b.hwnd());
  EXPECT_TRUE(w.FindWindowNode(L"needle", true));
  const HWND second = SelectedWindow(w);
  EXPECT_NE(first, second);
  EXPECT_TRUE(second == a.hwnd() || second == b.hwnd());
  EXPECT_TRUE(w.FindWindowNode(L"needle", false)) << "previous";
  EXPECT_EQ(first, SelectedWindow(w));
  EXPECT_FALSE(w.FindWindowNode(L"no window is called this", true));
  EXPECT_EQ(first, SelectedWindow(w)) << "nothing found: the selection stays";
  EXPECT_TRUE(w.FindWindowNode(L"0x" + common::Hex(static_cast<int32_t>(reinterpret_cast<INT_PTR>(b.hwnd()))), true));
  EXPECT_EQ(b.hwnd(), SelectedWindow(w)) << "by handle";
  SelectNode(w.FindNode(L"root"));
  EXPECT_TRUE(w.FindWindowNode(std::to_wstring(GetCurrentProcessId()), true)) << "by process id";
  DWORD pid = 0;
  GetWindowThreadProcessId(SelectedWindow(w), &pid);
  EXPECT_EQ(GetCurrentProcessId(), pid);

  // Ctrl+F in the tree opens the find box; Enter finds the next.
  SetFocus(w.tree());
  SelectNode(w.FindNode(L"root"));
  SendMessageW(w.tree(), WM_KEYDOWN, 'F', 0);
  EXPECT_EQ(nullptr, w.find_box()) << "F alone is the tree's own";
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  SendMessageW(w.tree(), WM_KEYDOWN, 'F', 0);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  ASSERT_NE(nullptr, w.find_box());
  EXPECT_TRUE(IsWindowVisible(w.find_box()));
  HWND edit = GetFocus();
  SetWindowTextW(edit, L"needle two");
  SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(b.hwnd(), SelectedWindow(w));

  // The log: the lines holding a text, next and previous.
  SelectNode(w.FindNode(KeyOf(a.hwnd())));
  ClickToolbar(1);
  for (int i = 0; i < 6; ++i) SendMessageW(a.hwnd(), WM_USER, static_cast<WPARAM>(i), 0);
  w.UpdateLog();  // the display tick
  SendMessageW(w.log(), LB_SETCURSEL, 0, 0);
  EXPECT_TRUE(w.FindLogLine(L"400, 3", true));
  EXPECT_EQ(L"400, 3, 0", ShownLines(w)[static_cast<size_t>(SendMessageW(w.log(), LB_GETCURSEL, 0, 0))]);
  EXPECT_TRUE(w.FindLogLine(L"400, ", false));
  EXPECT_EQ(L"400, 2, 0", ShownLines(w)[static_cast<size_t>(SendMessageW(w.log(), LB_GETCURSEL, 0, 0))]);
  EXPECT_FALSE(w.FindLogLine(L"WM_NOTHING", true));
  EXPECT_TRUE(boxes_.empty());
}

// A window whose handle has bit 31 set (handles age so in a long session): found by the handle as
// the inspector and the tree write it.
TEST_F(WindowTools, AWindowWhoseHandleHasBit31SetIsFoundByItsHandle) {
  HWND aged = nullptr;
  for (int i = 0; i < 0x30000 && !aged; ++i) {  // a slot of the handle table used until its count reaches bit 31
    HMENU m = CreateMenu();
    if (!m) break;
    const bool high = reinterpret_cast<ULONG_PTR>(m) & 0x80000000u;
    DestroyMenu(m);
    if (!high) continue;
    aged = CreateWindowExW(0, L"STATIC", L"aged window", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (aged && !(reinterpret_cast<ULONG_PTR>(aged) & 0x80000000u)) {
      DestroyWindow(aged);
      aged = nullptr;
    }
  }
  ASSERT_TRUE(aged) << "no window handle with bit 31 set came";
  auto& w = Open();
  SelectNode(w.FindNode(L"root"));
  const std::wstring hex = L"0x" + common::Hex(static_cast<int32_t>(reinterpret_cast<INT_PTR>(aged)));
  EXPECT_TRUE(w.FindWindowNode(hex, true)) << hex;
  EXPECT_EQ(aged, SelectedWindow(w)) << hex;
  DestroyWindow(aged);
}

TEST_F(WindowTools, HighlightFlashesTheOutlineAndLeavesTheScreenAsItWas) {
  TestWindow target(nullptr, L"Flashed");
  ShowWindow(target.hwnd(), SW_SHOWNA);
  SetWindowPos(target.hwnd(), HWND_TOP, 50, 50, 200, 120, SWP_NOACTIVATE);
  UpdateWindow(target.hwnd());
  auto& w = Open(false);
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  HDC screen = GetDC(nullptr);
  const COLORREF before = GetPixel(screen, 51, 51);
  w.HighlightSelectedWindow();
  EXPECT_TRUE(w.highlighting());
  const COLORREF during = GetPixel(screen, 51, 51);
  for (int i = 0; i < 100 && w.highlighting(); ++i) PumpFor(20);
  EXPECT_FALSE(w.highlighting());
  const COLORREF after = GetPixel(screen, 51, 51);
  ReleaseDC(nullptr, screen);
  EXPECT_NE(before, during) << "the outline is drawn";
  EXPECT_EQ(before, after) << "and taken away";
}

TEST_F(WindowTools, OnTopDecimalAndTheLogsLengthAreOptInAndRemembered) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  EXPECT_EQ(501, w.log_length());
  EXPECT_FALSE(w.on_top());
  w.RunLogCommand(spy::kCmdOnTop);
  EXPECT_TRUE(w.on_top());
  w.RunLogCommand(spy::kCmdDecimal);
  w.RunLogCommand(spy::kCmdLogLength + 1);
  EXPECT_EQ(2000, w.log_length());
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  SendMessageW(target.hwnd(), WM_SETTEXT, 0, 0);
  SendMessageW(target.hwnd(), WM_USER, 255, -2);
  EXPECT_EQ(L"400, 255, -2", ShownLines(w).back());
  for (int i = 0; i < 2100; ++i) SendMessageW(target.hwnd(), WM_USER, static_cast<WPARAM>(i), 0);
  EXPECT_EQ(2000u, ShownLines(w).size());
  EXPECT_EQ(2000u, w.store().size());
  EXPECT_EQ(L"400, 2099, 0", ShownLines(w).back());
  CloseAndForget();

  auto& again = Open();
  PumpFor(100);
  EXPECT_TRUE(again.on_top());
  EXPECT_TRUE(again.decimal());
  EXPECT_EQ(2000, again.log_length());
  again.RunLogCommand(spy::kCmdOnTop);
  EXPECT_FALSE(again.on_top());
  EXPECT_EQ(0, GetWindowLongW(again.hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  again.RunLogCommand(spy::kCmdLogLength + 0);
  EXPECT_EQ(501, again.log_length());
}

}  // namespace
}  // namespace spy_test
