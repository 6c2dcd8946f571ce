// Spying on windows of the test's own thread: the switch, the log, its cap and its bounds.
#include "spy_fixture.h"
#include "stand_in.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace spy_test {
namespace {

using Capture = SpyTest;
using testing_support::TestWindow;

// A spy object whose every use of hWnd fails with error 91 from source "S", description "D".
class FailingWindow final : public testing_support::StandInWindow {
 public:
  HRESULT STDMETHODCALLTYPE put_hWnd(LONG) override {
    common::com_ptr<ICreateErrorInfo> create;
    CreateErrorInfo(create.put());
    create->SetSource(const_cast<LPOLESTR>(L"S"));
    create->SetDescription(const_cast<LPOLESTR>(L"D"));
    common::com_ptr<IErrorInfo> info = create.query<IErrorInfo>(IID_IErrorInfo);
    SetErrorInfo(0, info.get());
    return static_cast<HRESULT>(0x800A005BUL);
  }
};

TEST_F(Capture, LogsTheMessagesOfAWindowOfThisThreadInOrderWithNamesAndHex) {
  TestWindow target(nullptr, L"Target");
  TestWindow other(nullptr, L"Other");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  ASSERT_TRUE(SpyPressed());
  ASSERT_TRUE(w.spying());
  SendMessageW(target.hwnd(), WM_NULL, 255, -2);
  SendMessageW(target.hwnd(), WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(target.hwnd(), 0xC001, 1, -1);
  SendMessageW(target.hwnd(), WM_USER, 0, 0x7FFFFFFF);
  SendMessageW(other.hwnd(), WM_NULL, 0, 0);  // not watched
  const std::vector<std::wstring> expected{L"WM_NULL, FF, FFFFFFFE", L"WM_GETTEXTLENGTH, 0, 0", L"C001, 1, FFFFFFFF",
                                           L"400, 0, 7FFFFFFF"};
  EXPECT_EQ(expected, ShownLines(w));
  EXPECT_EQ(3, SendMessageW(w.log(), LB_GETCURSEL, 0, 0)) << "the newest line is selected";
  EXPECT_EQ((std::vector<UINT>{0xC001, WM_USER}), target.seen) << "the window's own procedure still runs";

  // Another node while spying: the log starts empty and follows the new window.
  SelectNode(w.FindNode(KeyOf(other.hwnd())));
  EXPECT_TRUE(ShownLines(w).empty());
  SendMessageW(target.hwnd(), WM_NULL, 0, 0);
  SendMessageW(other.hwnd(), WM_NULL, 7, 0);
  EXPECT_EQ(std::vector<std::wstring>{L"WM_NULL, 7, 0"}, ShownLines(w));

  // Releasing "Spy": subclassing off, log cleared.
  ClickToolbar(1);
  EXPECT_FALSE(SpyPressed());
  EXPECT_FALSE(w.spying());
  EXPECT_TRUE(ShownLines(w).empty());
  SendMessageW(other.hwnd(), WM_NULL, 0, 0);
  EXPECT_TRUE(ShownLines(w).empty());

  // A node click while not spying changes nothing but clearing the log.
  SendMessageW(w.log(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"left over"));
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  EXPECT_TRUE(ShownLines(w).empty());
  EXPECT_FALSE(w.spying());
  SendMessageW(target.hwnd(), WM_NULL, 0, 0);
  EXPECT_TRUE(ShownLines(w).empty());

  // A key selection counts as a click too.
  ClickToolbar(1);
  SendMessageW(target.hwnd(), WM_NULL, 0, 0);
  ASSERT_EQ(1u, ShownLines(w).size());
  SendMessageW(w.tree(), WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_NE(w.FindNode(KeyOf(target.hwnd())),
            reinterpret_cast<HTREEITEM>(SendMessageW(w.tree(), TVM_GETNEXTITEM, TVGN_CARET, 0)));
  EXPECT_TRUE(ShownLines(w).empty());
  EXPECT_TRUE(boxes_.empty());
}

// A real mouse click on a node's label: the button-up is queued, the press is handled at once.
void ClickNode(HWND tree, HTREEITEM node) {
  RECT r{};
  std::memcpy(&r, &node, sizeof node);  // TVM_GETITEMRECT takes the item in the rectangle
  ASSERT_TRUE(SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)));
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  PostMessageW(tree, WM_LBUTTONUP, 0, at);
  SendMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, at);
  testing_support::PumpMessages();
}

// Spy Scope: with its children, a child's messages are logged too, each line led by its window; back
// to the window alone while spying, the lines are as they always were.
TEST_F(Capture, AWiderScopeLogsTheFamilysMessagesEachLedByItsWindow) {
  TestWindow target(nullptr, L"Family root");
  HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 5, 5, target.hwnd(), nullptr, nullptr, nullptr);
  ASSERT_TRUE(child);
  auto& w = Open();
  w.SetScope(1, false);
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  ASSERT_TRUE(w.spying()) << (boxes_.empty() ? L"" : boxes_.back());
  SendMessageW(child, WM_USER + 9, 1, 2);
  SendMessageW(target.hwnd(), WM_USER + 9, 3, 4);
  auto hex8 = [](HWND h) {
    wchar_t buf[16];
    std::swprintf(buf, 16, L"0x%08lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(h) & 0xFFFFFFFFu));
    return std::wstring(buf);
  };
  const std::wstring child_line = hex8(child) + L" Static  409, 1, 2";
  const std::wstring root_line = hex8(target.hwnd()) + L" HookwireTestWindow  409, 3, 4";
  auto shown = [&](const std::wstring& line) {
    const auto lines = ShownLines(w);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  for (int i = 0; i < 60 && !(shown(child_line) && shown(root_line)); ++i) PumpFor(50);
  EXPECT_TRUE(shown(child_line)) << child_line;
  EXPECT_TRUE(shown(root_line)) << root_line;
  // The tree shows the family in bold, and nothing else.
  TestWindow stranger(nullptr, L"Not of the family");
  w.FillWindowTree();
  w.MarkWatchedWindows();
  ASSERT_TRUE(w.FindNode(KeyOf(child)));
  EXPECT_TRUE(w.marked(w.FindNode(KeyOf(target.hwnd()))));
  EXPECT_TRUE(w.marked(w.FindNode(KeyOf(child))));
  EXPECT_FALSE(w.marked(w.FindNode(KeyOf(stranger.hwnd()))));
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  // The window filter: the child's lines only.
  w.SetWindowFilter({static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(child))});
  SendMessageW(target.hwnd(), WM_USER + 9, 11, 0);
  SendMessageW(child, WM_USER + 9, 12, 0);
  const std::wstring child_only = hex8(child) + L" Static  409, C, 0";
  for (int i = 0; i < 60 && !shown(child_only); ++i) PumpFor(50);
  EXPECT_TRUE(shown(child_only)) << child_only;
  EXPECT_FALSE(shown(hex8(target.hwnd()) + L" HookwireTestWindow  409, B, 0")) << "left out by the window filter";
  w.SetWindowFilter({});

  w.SetScope(0, false);
  EXPECT_FALSE(w.marked(w.FindNode(KeyOf(target.hwnd())))) << "a window alone is not marked";
  ASSERT_TRUE(w.spying());
  SendMessageW(child, WM_USER + 9, 5, 6);
  SendMessageW(target.hwnd(), WM_USER + 9, 7, 8);
  for (int i = 0; i < 20 && !shown(L"409, 7, 8"); ++i) PumpFor(50);
  EXPECT_TRUE(shown(L"409, 7, 8"));
  EXPECT_FALSE(shown(L"409, 5, 6"));
  EXPECT_FALSE(shown(hex8(child) + L" Static  409, 5, 6"));
  ClickToolbar(1);
  EXPECT_FALSE(w.spying());
}

TEST_F(Capture, MouseClicksOnNodesAreNodeClicksAlsoOnTheSelectedNode) {
  TestWindow target(nullptr, L"Target");
  TestWindow other(nullptr, L"Other");
  auto& w = Open();
  HTREEITEM target_node = w.FindNode(KeyOf(target.hwnd()));
  HTREEITEM other_node = w.FindNode(KeyOf(other.hwnd()));
  SendMessageW(w.tree(), TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(target_node));
  SendMessageW(w.tree(), TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(other_node));
  ClickNode(w.tree(), target_node);
  ASSERT_EQ(target_node, Next(w.tree(), nullptr, TVGN_CARET));
  ClickToolbar(1);
  SendMessageW(target.hwnd(), WM_NULL, 0, 0);
  ASSERT_EQ(1u, ShownLines(w).size());
  // Clicking the selected node again re-applies the switch: the log starts over.
  ClickNode(w.tree(), target_node);
  EXPECT_TRUE(ShownLines(w).empty());
  SendMessageW(target.hwnd(), WM_NULL, 1, 0);
  EXPECT_EQ(std::vector<std::wstring>{L"WM_NULL, 1, 0"}, ShownLines(w));
  // A click on another node moves the spying there, once.
  ClickNode(w.tree(), other_node);
  EXPECT_EQ(other_node, Next(w.tree(), nullptr, TVGN_CARET));
  SendMessageW(target.hwnd(), WM_NULL, 0, 0);
  SendMessageW(other.hwnd(), WM_NULL, 2, 0);
  EXPECT_EQ(std::vector<std::wstring>{L"WM_NULL, 2, 0"}, ShownLines(w));
}

TEST_F(Capture, TheLogKeeps501LinesWithTheNewestSelected) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  for (int i = 1; i <= 501; ++i) SendMessageW(target.hwnd(), WM_APP, static_cast<WPARAM>(i), 0);
  // The display timer shows them (within a few ticks; under the emulator a tick can take long).
  for (int waited = 0; waited < 3000 && SendMessageW(w.log(), LB_GETCOUNT, 0, 0) < 501; waited += 20) PumpFor(20);
  EXPECT_EQ(501, SendMessageW(w.log(), LB_GETCOUNT, 0, 0));
  SendMessageW(target.hwnd(), WM_APP, 502, 0);
  const auto newest = [&w] {
    const auto shown = ListLines(w.log());
    return shown.empty() ? std::wstring() : shown.back();
  };
  for (int waited = 0; waited < 3000 && newest() != L"8000, 1F6, 0"; waited += 20) PumpFor(20);
  auto lines = ListLines(w.log());
  ASSERT_EQ(501u, lines.size());
  EXPECT_EQ(L"8000, 2, 0", lines.front()) << "the oldest line went";
  EXPECT_EQ(L"8000, 1F6, 0", lines.back());
  EXPECT_EQ(500, SendMessageW(w.log(), LB_GETCURSEL, 0, 0));
  PumpFor(100);  // the deferred repaint changes nothing
  EXPECT_EQ(501, SendMessageW(w.log(), LB_GETCOUNT, 0, 0));
  EXPECT_EQ(500, SendMessageW(w.log(), LB_GETCURSEL, 0, 0));
  // ...and leaves the log visible, painted, the newest line in view.
  EXPECT_TRUE(IsWindowVisible(w.log()));
  EXPECT_FALSE(GetUpdateRect(w.log(), nullptr, FALSE));
  RECT item{}, client{};
  SendMessageW(w.log(), LB_GETITEMRECT, 500, reinterpret_cast<LPARAM>(&item));
  GetClientRect(w.log(), &client);
  EXPECT_LE(item.bottom, client.bottom);
  EXPECT_GE(item.top, client.top);

  // Releasing "Spy" in the middle of a burst, before the repaint is due: the empty log is
  // shown and painted all the same.
  SendMessageW(target.hwnd(), WM_APP, 503, 0);
  ClickToolbar(1);
  PumpFor(100);
  EXPECT_TRUE(IsWindowVisible(w.log()));
  EXPECT_FALSE(GetUpdateRect(w.log(), nullptr, FALSE));
  EXPECT_EQ(0, SendMessageW(w.log(), LB_GETCOUNT, 0, 0));
}

TEST_F(Capture, CannotSubclassLeavesTheButtonPressedAndTheLogEmpty) {
  // The desktop window cannot be watched: the switch stays on, nothing is logged, no box.
  auto& w = Open();
  SelectNode(w.FindNode(L"root"));
  ClickToolbar(1);
  EXPECT_TRUE(SpyPressed());
  EXPECT_TRUE(w.spying());
  PumpFor(30);
  EXPECT_TRUE(ShownLines(w).empty());
  ClickToolbar(1);
  EXPECT_TRUE(boxes_.empty()) << "no message says so";
}

// Nothing is watched on the desktop: a filter change has nothing to re-watch, and says nothing.
TEST_F(Capture, AFilterChangeWithSpyPressedOnTheDesktopShowsNoError) {
  auto& w = Open();
  SelectNode(w.FindNode(L"root"));
  ClickToolbar(1);
  ASSERT_TRUE(w.spying());
  spy::MessageFilter f;
  f.SetGroups(L"Mouse");
  w.SetFilter(f);
  f.SetGroups(L"");
  w.SetFilter(f);
  EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? std::wstring() : boxes_[0]);
  EXPECT_TRUE(fatal_.empty());
  ClickToolbar(1);
}

TEST_F(Capture, AWindowOfAnotherThreadIsLoggedThroughTheHook) {
  HWND foreign = nullptr;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD thread_id = 0;
  std::thread t([&] {
    thread_id = GetCurrentThreadId();
    foreign = CreateWindowExW(0, L"STATIC", L"foreign", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                              nullptr, nullptr);
    SetEvent(ready);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    DestroyWindow(foreign);
  });
  WaitForSingleObject(ready, 5000);
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(foreign)));
  ClickToolbar(1);
  EXPECT_TRUE(SpyPressed());
  SendMessageW(foreign, WM_USER + 0x123, 0xAB, 0);
  PumpFor(100);
  auto lines = ShownLines(w);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), std::wstring(L"523, AB, 0")));
  ClickToolbar(1);
  EXPECT_TRUE(boxes_.empty());
  PostThreadMessageW(thread_id, WM_QUIT, 0, 0);
  t.join();
  CloseHandle(ready);
}

TEST_F(Capture, TheSwitchReportsAnErrorInItsBoxAndGoesOn) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  FailingWindow failing;
  w.ReplaceSpyWindow(common::com_ptr<_HookwireWindow>(&failing));
  ClickToolbar(1);
  ASSERT_EQ(1u, boxes_.size());
  EXPECT_EQ(L"S\r\nError #5B\r\nD|Snoopet|" + std::to_wstring(MB_OK), boxes_[0]) << "OK only, no icon";
  EXPECT_TRUE(w.spying()) << "nothing is rolled back";
  // A failure HRESULT of the platform is shown with its eight hex digits.
  EXPECT_EQ(L"Snoopet\r\nError #80004005\r\nUnspecified error",
            spy::MainWindow::SpyErrorText(common::RuntimeError(static_cast<long>(E_FAIL), L"", L"Unspecified error")));
  w.ReplaceSpyWindow(nullptr);
}

TEST_F(Capture, KeysThatDifferInCaseDoNothingAndExitCloses) {
  auto& w = Open();
  EXPECT_EQ(L"Exit Program (Alt+F4)", ToolTip(w.toolbar(), spy::kButtonExit));
  SendMessageW(w.toolbar(), TB_CHECKBUTTON, spy::kButtonSpy, TRUE);
  w.ToolbarButtonClick(L"SPY");
  EXPECT_FALSE(w.spying());
  w.ToolbarButtonClick(L"exit");
  EXPECT_FALSE(w.closed());
  w.ToolbarButtonClick(L"Spy");
  EXPECT_TRUE(w.spying());
  CloseAndForget();
  EXPECT_NE(L"<absent>", StoredSetting(app_, L"Height")) << "Exit stores the placement";
}

TEST_F(Capture, ANegativeMessageAddsNoLineAndEndsNothing) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  SendMessageW(target.hwnd(), WM_NULL, 0, 0);
  LONG_PTR result = 0;
  const HRESULT hr = w.Message(-5, 0, 0, &result);
  EXPECT_EQ(static_cast<HRESULT>(0x800A0009UL), hr) << "subscript out of range, returned to the component";
  EXPECT_EQ(1u, ShownLines(w).size());
  SendMessageW(target.hwnd(), WM_NULL, 0, 0);
  EXPECT_EQ(2u, ShownLines(w).size()) << "the next message is logged as before";
  EXPECT_TRUE(IsWindow(w.hwnd()));
}

// --- feedback: spying on the log, or on windows whose messages the logging causes ------------

TEST_F(Capture, SpyingOnTheLogItselfIsRefused) {
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(w.log())));
  ClickToolbar(1);
  EXPECT_TRUE(SpyPressed());
  SendMessageW(w.log(), WM_NULL, 0, 0);
  PumpFor(200);
  EXPECT_EQ(0, SendMessageW(w.log(), LB_GETCOUNT, 0, 0));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(Capture, SpyingOnTheMainWindowStaysBounded) {
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(w.hwnd())));
  ClickToolbar(1);
  SendMessageW(w.hwnd(), WM_NULL, 1, 0);
  SendMessageW(w.hwnd(), WM_GETTEXTLENGTH, 0, 0);
  InvalidateRect(w.log(), nullptr, TRUE);  // the log repaints: nothing of it is news
  PumpFor(300);
  const LRESULT settled = SendMessageW(w.log(), LB_GETCOUNT, 0, 0);
  auto lines = ShownLines(w);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), L"WM_NULL, 1, 0"));
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), L"WM_GETTEXTLENGTH, 0, 0"));
  PumpFor(300);
  EXPECT_EQ(settled, SendMessageW(w.log(), LB_GETCOUNT, 0, 0)) << "the log does not grow by itself";
  EXPECT_LT(settled, 50);
}

// Between two display updates the store may already have dropped the records of the oldest
// lines on screen for newer ones: those lines still have their details, Save As (CSV) still
// writes every line, and the next update shows the newest lines with theirs.
TEST_F(Capture, EveryLineOnScreenKeepsItsRecordUntilTheNextUpdate) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  w.ShowDetails(true);
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  for (int i = 1; i <= 501; ++i) SendMessageW(target.hwnd(), WM_APP, static_cast<WPARAM>(i), 0);
  w.UpdateLog();
  ASSERT_EQ(501, SendMessageW(w.log(), LB_GETCOUNT, 0, 0));
  // A hundred more before the display timer comes (this thread does not pump).
  for (int i = 502; i <= 601; ++i) SendMessageW(target.hwnd(), WM_APP, static_cast<WPARAM>(i), 0);
  ASSERT_EQ(501, SendMessageW(w.log(), LB_GETCOUNT, 0, 0));
  const spy::LogRecord* first = w.RecordOfLine(0);
  ASSERT_NE(nullptr, first) << "the first line on screen lost its record";
  EXPECT_EQ(1, first->line_wParam);
  EXPECT_EQ(std::wstring::npos, w.DetailsOfLine(0).find(L"Select a line")) << w.DetailsOfLine(0);
  const std::wstring csv = TempPath(L"snoopet-shown.csv");
  w.SaveLog(csv, true);
  bool bom = false;
  const auto rows = ParseCsv(ReadUtf8(csv, &bom));
  ASSERT_EQ(502u, rows.size()) << "a header and one row per line on screen";
  EXPECT_EQ(L"1", rows[1][0]) << "the first row is the first line's message";
  DeleteFileW(csv.c_str());

  // (Reading the details above asked the window for its caption: those messages are lines too.)
  w.UpdateLog();
  const auto lines = ShownLines(w);
  ASSERT_EQ(501u, lines.size());
  int app_lines = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const spy::LogRecord* r = w.RecordOfLine(static_cast<LRESULT>(i));
    ASSERT_NE(nullptr, r) << "line " << i;
    if (r->msg != WM_APP) continue;
    wchar_t text[64];
    swprintf(text, 64, L"8000, %llX, 0", static_cast<unsigned long long>(r->line_wParam));
    EXPECT_EQ(std::wstring(text), lines[i]) << "line " << i << " has another line's record";
    ++app_lines;
  }
  EXPECT_GE(app_lines, 495);
  ClickToolbar(1);
}

// The details pane shows the newest line's message after each update: watching the pane itself
// must not turn its repaints into lines that change it again.
TEST_F(Capture, SpyingOnTheDetailsPaneStaysBounded) {
  auto& w = Open();
  w.ShowDetails(true);
  w.RefreshTree();
  SelectNode(w.FindNode(KeyOf(w.details())));
  ClickToolbar(1);
  ASSERT_TRUE(SpyPressed());
  SendMessageW(w.details(), WM_NULL, 0, 0);
  PumpFor(500);
  const uint64_t settled = w.store().added();
  PumpFor(1000);
  EXPECT_EQ(settled, w.store().added()) << "the log does not grow by itself";
  EXPECT_LT(settled, 50u);
  ClickToolbar(1);
}

// A window that hears of everything the log does (as if the log's messages caused its own),
// except what the test itself asks the log.
bool g_test_reads = false;
LRESULT CALLBACK Forward(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  if (!g_test_reads) SendMessageW(reinterpret_cast<HWND>(ref), WM_APP + 1, msg, 0);
  return DefSubclassProc(h, msg, wp, lp);
}

LRESULT CountQuietly(HWND log) {
  g_test_reads = true;
  LRESULT n = SendMessageW(log, LB_GETCOUNT, 0, 0);
  g_test_reads = false;
  return n;
}

TEST_F(Capture, AWindowWhoseMessagesTheLoggingCausesStaysBounded) {
  TestWindow echo(nullptr, L"Echo");
  auto& w = Open();
  SetWindowSubclass(w.log(), Forward, 77, reinterpret_cast<DWORD_PTR>(echo.hwnd()));
  SelectNode(w.FindNode(KeyOf(echo.hwnd())));
  ClickToolbar(1);
  SendMessageW(echo.hwnd(), WM_NULL, 0, 0);
  PumpFor(300);
  const LRESULT settled = CountQuietly(w.log());
  EXPECT_GE(settled, 1);
  PumpFor(300);
  EXPECT_EQ(settled, CountQuietly(w.log())) << "the log does not grow by itself";
  EXPECT_LT(settled, 10);
  RemoveWindowSubclass(w.log(), Forward, 77);
  EXPECT_EQ(L"WM_NULL, 0, 0", ShownLines(w).at(0));
}

}  // namespace
}  // namespace spy_test
