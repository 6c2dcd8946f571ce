// The tools beyond the seed's window: off by default (the window stays the seed's), then pause,
// clear, save, copy, the details pane, the filter and the tree's refresh, each turned on.
#include <algorithm>
#include <cstdio>

#include "settings.h"
#include "spy_fixture.h"

namespace spy_test {
namespace {

using Tools = SpyTest;
using testing_support::TestWindow;

struct Child {
  std::wstring cls;
  bool visible;
};

// A window handle by its low 32 bits: once bit 31 is set, a 64-bit program gets the same window
// sign-extended from one call and zero-extended from another.
uint32_t Low32(HWND w) { return static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(w)); }

BOOL CALLBACK CollectChild(HWND h, LPARAM lp) {
  auto* out = reinterpret_cast<std::vector<Child>*>(lp);
  wchar_t cls[64] = {};
  GetClassNameW(h, cls, 64);
  // (By the handles' low 32 bits: once bit 31 is set, a 64-bit program gets the parent
  // sign-extended from one call and zero-extended from the other.)
  const auto low = [](HWND w) { return static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(w)); };
  if (low(GetParent(h)) == low(GetAncestor(h, GA_PARENT))) out->push_back({cls, IsWindowVisible(h) != FALSE});
  return TRUE;
}

// Every value name below a registry key, as "section\name".
void ListValues(HKEY root, const std::wstring& path, const std::wstring& prefix, std::vector<std::wstring>& out) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD n = 256;
    if (RegEnumValueW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    out.push_back(prefix + name);
  }
  for (DWORD i = 0;; ++i) {
    DWORD n = 256;
    if (RegEnumKeyExW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    ListValues(root, path + L"\\" + name, prefix + name + L"\\", out);
  }
  RegCloseKey(k);
}

// The text on the clipboard; empty when there is none.
std::wstring ClipboardText() {
  if (!OpenClipboard(nullptr)) return L"(clipboard not opened)";
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const wchar_t* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  std::wstring clip = text ? text : L"";
  if (text) GlobalUnlock(data);
  CloseClipboard();
  return clip;
}

TEST_F(Tools, NothingTurnedOnLeavesTheSeedsWindowItsLinesAndItsSettings) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  std::vector<Child> children;
  EnumChildWindows(w.hwnd(), CollectChild, reinterpret_cast<LPARAM>(&children));
  std::vector<std::wstring> visible;
  for (const auto& c : children)
    if (c.visible) visible.push_back(c.cls);
  std::sort(visible.begin(), visible.end());
  EXPECT_EQ((std::vector<std::wstring>{L"ListBox", L"SysTreeView32", L"ToolbarWindow32"}), visible);
  EXPECT_FALSE(IsWindowVisible(w.details()));
  EXPECT_EQ(2, SendMessageW(w.toolbar(), TB_BUTTONCOUNT, 0, 0));
  EXPECT_FALSE(w.details_visible());
  EXPECT_FALSE(w.paused());
  EXPECT_EQ(0, GetWindowLongW(w.log(), GWL_STYLE) & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL)) << "one line at a time";
  wchar_t caption[128] = {};
  GetWindowTextW(w.hwnd(), caption, 128);
  EXPECT_STREQ(spy::kCaption, caption);
  EXPECT_EQ(0, GetWindowLongW(w.hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);

  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  VARIANT_BOOL all = VARIANT_FALSE;
  ASSERT_EQ(S_OK, w.spy_window()->get_WatchMessage(0xFFFF, &all));
  EXPECT_TRUE(all) << "without a filter every message is watched";
  SendMessageW(target.hwnd(), EM_SETSEL, 1, 2);
  SendMessageW(target.hwnd(), WM_APP + 2, 3, -1);
  SendMessageW(target.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"x"));
  const std::wstring settext = ShownLines(w).back();
  EXPECT_EQ((std::vector<std::wstring>{L", 1, 2", L"8002, 3, FFFFFFFF", settext}), ShownLines(w));
  EXPECT_EQ(0u, settext.find(L"WM_SETTEXT, 0, ")) << "no decoding in the line itself";
  EXPECT_EQ(3u, w.store().size()) << "one record per line";

  CloseAndForget();
  std::vector<std::wstring> values;
  ListValues(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\" + app_, L"", values);
  std::sort(values.begin(), values.end());
  EXPECT_EQ((std::vector<std::wstring>{L"Position\\Height", L"Position\\Left", L"Position\\SplitterPos",
                                       L"Position\\Top", L"Position\\Width"}),
            values);
}

TEST_F(Tools, PauseStopsTheLinesButNotTheCaptureAndClearEmptiesLogAndRecords) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  SendMessageW(target.hwnd(), WM_USER, 1, 0);
  w.RunLogCommand(spy::kCmdPause);
  EXPECT_TRUE(w.paused());
  SendMessageW(target.hwnd(), WM_USER, 2, 0);
  SendMessageW(target.hwnd(), WM_USER, 3, 0);
  EXPECT_EQ(std::vector<std::wstring>{L"400, 1, 0"}, ShownLines(w));
  VARIANT_BOOL on = VARIANT_FALSE;
  w.spy_window()->get_Subclassed(&on);
  EXPECT_TRUE(on) << "the capture goes on";
  EXPECT_TRUE(w.spying());
  w.RunLogCommand(spy::kCmdPause);
  SendMessageW(target.hwnd(), WM_USER, 4, 0);
  EXPECT_EQ((std::vector<std::wstring>{L"400, 1, 0", L"400, 4, 0"}), ShownLines(w));
  ASSERT_EQ(2u, w.store().size());
  EXPECT_EQ(1u, w.store().At(0)->index);
  EXPECT_EQ(4u, w.store().At(1)->index) << "messages that came while paused are counted";
  EXPECT_EQ(L"400, 4, 0", spy::LineText(*w.store().At(1), &w.message_names()));

  w.RunLogCommand(spy::kCmdClear);
  EXPECT_TRUE(ShownLines(w).empty());
  EXPECT_EQ(0u, w.store().size());
  SendMessageW(target.hwnd(), WM_USER, 5, 0);
  EXPECT_EQ(std::vector<std::wstring>{L"400, 5, 0"}, ShownLines(w));
  EXPECT_TRUE(w.spying());

  // The records keep to the lines past the cap.
  for (int i = 0; i < 520; ++i) SendMessageW(target.hwnd(), WM_USER, static_cast<WPARAM>(i), 0);
  const auto lines = ShownLines(w);
  ASSERT_EQ(501u, lines.size());
  ASSERT_EQ(501u, w.store().size());
  EXPECT_EQ(lines.front(), spy::LineText(*w.store().At(0), &w.message_names()));
  EXPECT_EQ(lines.back(), spy::LineText(*w.store().At(500), &w.message_names()));
}

TEST_F(Tools, SaveWritesTheLinesOrEveryDetailAsCsvAndCopyTakesTheSelectedLine) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  SendMessageW(target.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"a, \"b\""));
  SendMessageW(target.hwnd(), WM_MOUSEMOVE, MK_CONTROL, MAKELPARAM(4, 5));
  SendMessageW(target.hwnd(), WM_USER + 9, 0x1234, -2);
  const auto lines = ShownLines(w);

  const std::wstring txt = TempPath(L"snoopet-save.txt");
  w.choose_save_path = [&](HWND, bool* csv) {
    *csv = false;
    return txt;
  };
  w.RunLogCommand(spy::kCmdSave);
  bool bom = true;
  std::wstring expected;
  for (const auto& l : lines) expected += l + L"\r\n";
  EXPECT_EQ(expected, ReadUtf8(txt, &bom));
  EXPECT_FALSE(bom);

  const std::wstring csv = TempPath(L"snoopet-save.csv");
  w.SaveLog(csv, true);
  auto rows = ParseCsv(ReadUtf8(csv, &bom));
  EXPECT_TRUE(bom);
  ASSERT_EQ(lines.size() + 1, rows.size());
  EXPECT_EQ((std::vector<std::wstring>{L"Index", L"Time (ms)", L"Clock time", L"Window", L"Message", L"Name",
                                       L"wParam", L"lParam", L"Origin", L"Result", L"Details", L"LostBefore"}),
            rows[0]);
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(12u, rows[i].size()) << "row " << i;
    const spy::LogRecord& r = *w.store().At(i - 1);
    const spy::RecordText t = spy::Describe(r, w.decoder());
    EXPECT_EQ(std::to_wstring(r.index), rows[i][0]);
    EXPECT_EQ(t.clock, rows[i][2]);
    EXPECT_EQ(t.name, rows[i][5]);
    EXPECT_EQ(t.origin, rows[i][8]);
    EXPECT_EQ(t.details, rows[i][10]) << "commas and quotes survive the round trip";
  }
  EXPECT_EQ(L"\"a, \\\"b\\\"\"", rows[1][10]);
  EXPECT_EQ(L"WM_USER+9", rows[3][5]);
  // A 32-bit program's parameters in eight digits.
  EXPECT_EQ(sizeof(void*) == 4 ? L"0x00001234" : L"0x1234", rows[3][6]);

  // A field with a line break in it, written by the same code, read back whole.
  spy::RecordText words;
  words.details = L"two\r\nlines, \"quoted\"";
  words.name = L"plain";
  auto one = ParseCsv(spy::CsvLine(spy::LogRecord{}, words) + L"\r\n");
  ASSERT_EQ(1u, one.size());
  ASSERT_EQ(12u, one[0].size());
  EXPECT_EQ(words.details, one[0][10]);
  EXPECT_EQ(L"plain", one[0][5]);

  // A file that cannot be written: a box says so; nothing is left behind.
  w.choose_save_path = [&](HWND, bool*) { return TempPath(L"no-such-folder\\x.txt"); };
  w.RunLogCommand(spy::kCmdSave);
  ASSERT_EQ(1u, boxes_.size());
  EXPECT_NE(std::wstring::npos, boxes_[0].find(L"Snoopet"));
  DeleteFileW(txt.c_str());
  DeleteFileW(csv.c_str());

  // Copy: the selected line as text on the clipboard.
  SendMessageW(w.log(), LB_SETCURSEL, 1, 0);
  ASSERT_TRUE(w.CopyLines(false));
  EXPECT_EQ(lines[1] + L"\r\n", ClipboardText());
}

// Several lines: the log is made anew with its lines and its place; Copy takes the selected
// lines; new lines still select the newest; the choice is remembered, and refused while Snoopet
// watches its own log (that window would go away under the capture).
TEST_F(Tools, SeveralLinesCanBeSelectedAndCopiedAndTheChoiceIsRemembered) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  for (int i = 0; i < 6; ++i) SendMessageW(target.hwnd(), WM_USER, static_cast<WPARAM>(i), 0);
  const auto lines = ShownLines(w);
  const HWND before = w.log();
  const spy::TwipsRect place = w.ControlRect(before);
  w.RunLogCommand(spy::kCmdSeveralLines);
  ASSERT_TRUE(w.several_lines());
  EXPECT_FALSE(IsWindow(before));
  EXPECT_NE(0, GetWindowLongW(w.log(), GWL_STYLE) & LBS_EXTENDEDSEL);
  EXPECT_EQ(lines, ShownLines(w));
  EXPECT_EQ(place.left, w.ControlRect(w.log()).left);
  EXPECT_EQ(place.height, w.ControlRect(w.log()).height);
  EXPECT_EQ(w.tree(), GetNextWindow(w.log(), GW_HWNDNEXT)) << "the log keeps its place in the tab order";
  EXPECT_NE(nullptr, w.FindNode(KeyOf(w.log()))) << "the tree lists the new log";

  SendMessageW(w.log(), LB_SETSEL, FALSE, -1);
  SendMessageW(w.log(), LB_SELITEMRANGE, TRUE, MAKELPARAM(1, 3));
  ASSERT_TRUE(w.CopyLines(false));
  EXPECT_EQ(lines[1] + L"\r\n" + lines[2] + L"\r\n" + lines[3] + L"\r\n", ClipboardText());

  SendMessageW(target.hwnd(), WM_USER, 99, 0);  // still logged, and the newest line alone is selected
  EXPECT_EQ(w.FormatMessageLine(WM_USER, 99, 0), ShownLines(w).back());
  EXPECT_EQ(1, SendMessageW(w.log(), LB_GETSELCOUNT, 0, 0));
  EXPECT_GT(SendMessageW(w.log(), LB_GETSEL, lines.size(), 0), 0);

  CloseAndForget();
  EXPECT_EQ(L"1", spy::GetSetting(app_, L"Tools", L"SeveralLines", L"<absent>"));
  auto& again = Open();
  EXPECT_NE(0, GetWindowLongW(again.log(), GWL_STYLE) & LBS_EXTENDEDSEL) << "remembered";
  SelectNode(again.FindNode(KeyOf(again.log())));
  ClickToolbar(1);
  EXPECT_FALSE(again.SetSeveralLines(false)) << "the watched log stays";
  EXPECT_TRUE(again.several_lines());
  ClickToolbar(1);
  EXPECT_TRUE(again.SetSeveralLines(false));
  EXPECT_EQ(0, GetWindowLongW(again.log(), GWL_STYLE) & LBS_EXTENDEDSEL);
}

// A capture file takes every message, past the log's 501 lines and while the log is paused, in
// order, as lines or as CSV; a file that cannot be written is refused with a box.
TEST_F(Tools, CaptureFileStreamsEveryMessagePastTheLogsCapAndWhilePaused) {
  TestWindow target(nullptr, L"Target");
  const std::wstring header = L"=== " + spy::MessageDecoder::DescribeWindow(reinterpret_cast<INT_PTR>(target.hwnd())) + L" ===";
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  const std::wstring txt = TempPath(L"snoopet-capture.txt");
  w.choose_save_path = [&](HWND, bool* csv) {
    *csv = false;
    return txt;
  };
  w.RunLogCommand(spy::kCmdCaptureFile);
  ASSERT_TRUE(w.capture_file() && w.capture_file()->open());
  const int n = 3000;
  for (int i = 0; i < n; ++i) {
    if (i == 1000) w.RunLogCommand(spy::kCmdPause);
    if (i == 2000) w.RunLogCommand(spy::kCmdPause);
    SendMessageW(target.hwnd(), WM_USER, static_cast<WPARAM>(i), 0);
  }
  w.RunLogCommand(spy::kCmdCaptureFile);  // stops and closes
  EXPECT_FALSE(w.capture_file());
  bool bom = true;
  const std::wstring text = ReadUtf8(txt, &bom);
  EXPECT_FALSE(bom);
  std::vector<std::wstring> got;
  for (size_t at = 0, end; (end = text.find(L"\r\n", at)) != std::wstring::npos; at = end + 2)
    got.push_back(text.substr(at, end - at));
  // The file names the window first.
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(header, got[0]);
  got.erase(got.begin());
  ASSERT_EQ(static_cast<size_t>(n), got.size());
  for (int i = 0; i < n; i += 499) EXPECT_EQ(w.FormatMessageLine(WM_USER, i, 0), got[static_cast<size_t>(i)]);
  EXPECT_EQ(w.FormatMessageLine(WM_USER, n - 1, 0), got.back());
  EXPECT_EQ(w.FormatMessageLine(WM_USER, n - 1, 0), ShownLines(w).back());

  const std::wstring csv = TempPath(L"snoopet-capture.csv");
  w.StartCaptureFile(csv, true);
  SendMessageW(target.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"x, \"y\""));
  w.StopCaptureFile();
  const auto rows = ParseCsv(ReadUtf8(csv, &bom));
  EXPECT_TRUE(bom);
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ(L"Index", rows[0][0]);
  EXPECT_EQ(L"", rows[1][0]) << "the window's row has no message";
  EXPECT_EQ(0u, rows[1][10].find(L"'=== ")) << "read as text by a spreadsheet";
  EXPECT_EQ(L"WM_SETTEXT", rows[2][5]);
  EXPECT_EQ(spy::Describe(*w.store().Last(), w.decoder()).details, rows[2][10]);

  EXPECT_THROW(w.StartCaptureFile(TempPath(L"no-such-folder\\x.txt"), false), common::RuntimeError);
  EXPECT_FALSE(w.capture_file());
  DeleteFileW(txt.c_str());
  DeleteFileW(csv.c_str());
}

TEST_F(Tools, DetailsPaneShowsTheSelectedLineAndIsRemembered) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  const spy::TwipsRect log_before = w.ControlRect(w.log());
  w.RunLogCommand(spy::kCmdDetails);
  ASSERT_TRUE(IsWindowVisible(w.details()));
  const spy::TwipsRect log = w.ControlRect(w.log());
  const spy::TwipsRect pane = w.ControlRect(w.details());
  EXPECT_LT(log.height, log_before.height) << "the log makes room";
  EXPECT_EQ(log_before.top, log.top);
  EXPECT_NEAR(log.left, pane.left, 16);
  EXPECT_NEAR(log.width, pane.width, 16);
  EXPECT_GT(pane.top, log.top + log.height);
  EXPECT_NEAR(log_before.top + log_before.height, pane.top + pane.height, 16);

  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  SendMessageW(target.hwnd(), WM_USER + 1, 0, 0);
  SendMessageW(target.hwnd(), WM_NULL, 0, 0);
  // The lines on screen (the display tick), the user selects the first one.
  w.UpdateLog();
  SendMessageW(w.log(), LB_SETCURSEL, 0, 0);
  SendMessageW(w.hwnd(), WM_COMMAND, MAKEWPARAM(102, LBN_SELCHANGE), reinterpret_cast<LPARAM>(w.log()));
  std::wstring text(2048, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(w.details(), text.data(), 2048)));
  EXPECT_NE(std::wstring::npos, text.find(L"Message:\t0x0401 WM_USER+1\r\n")) << testing::PrintToString(text);
  EXPECT_NE(std::wstring::npos, text.find(L"Origin:\tposted, or sent by the window's own thread"));
  EXPECT_NE(std::wstring::npos, text.find(L" ms since the capture started, clock "));
  // After a burst the pane follows the newest line, which the log selects.
  // (The display tick brings it; under the emulator a tick can come well after 100 ms.)
  SendMessageW(target.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(7, 8));
  for (int i = 0; i < 40; ++i) {
    PumpFor(50);
    text.assign(2048, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(w.details(), text.data(), 2048)));
    if (text.find(L"Details:\tno keys; x=7 y=8") != std::wstring::npos) break;
  }
  EXPECT_NE(std::wstring::npos, text.find(L"Details:\tno keys; x=7 y=8")) << testing::PrintToString(text);

  // The tree's node, once selected, shows the window itself.
  TestWindow other(nullptr, L"Other");
  w.RefreshTree();
  SelectNode(w.FindNode(KeyOf(other.hwnd())));
  text.assign(2048, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(w.details(), text.data(), 2048)));
  EXPECT_NE(std::wstring::npos, text.find(L"Class:\tHookwireTestWindow\r\n")) << testing::PrintToString(text);
  EXPECT_NE(std::wstring::npos, text.find(L"Thread:\t" + std::to_wstring(GetCurrentThreadId()) + L"\r\n"));
  EXPECT_NE(std::wstring::npos, text.find(L", id " + std::to_wstring(GetCurrentProcessId())));

  CloseAndForget();
  EXPECT_EQ(L"1", spy::GetSetting(app_, L"Tools", L"Details", L"<absent>"));
  auto& again = Open();
  EXPECT_TRUE(IsWindowVisible(again.details())) << "the pane is remembered";
}

TEST_F(Tools, FilterGroupsReachTheWindowObjectAndAreRemembered) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  // Leave out the mouse, while spying: the window object is told at once.
  const auto& groups = spy::MessageGroups();
  int mouse = -1, text = -1;
  for (size_t i = 0; i < groups.size(); ++i) {
    if (std::wstring(groups[i].name) == L"Mouse") mouse = static_cast<int>(i);
    if (std::wstring(groups[i].name) == L"Text") text = static_cast<int>(i);
  }
  ASSERT_GE(mouse, 0);
  ASSERT_GE(text, 0);
  w.RunLogCommand(spy::kCmdFilterGroup + mouse);
  auto watched = [&](LONG m) {
    VARIANT_BOOL v = VARIANT_FALSE;
    EXPECT_EQ(S_OK, w.spy_window()->get_WatchMessage(m, &v));
    return v != VARIANT_FALSE;
  };
  EXPECT_FALSE(watched(0xFFFF));
  EXPECT_FALSE(watched(WM_MOUSEMOVE));
  EXPECT_FALSE(watched(WM_LBUTTONDOWN));
  EXPECT_FALSE(watched(WM_SETCURSOR));
  EXPECT_TRUE(watched(WM_PAINT));
  EXPECT_TRUE(watched(WM_NULL));
  EXPECT_TRUE(watched(0xC123));
  SendMessageW(target.hwnd(), WM_MOUSEMOVE, 0, 0);
  SendMessageW(target.hwnd(), WM_NULL, 0, 0);
  EXPECT_EQ(std::vector<std::wstring>{L"WM_NULL, 0, 0"}, ShownLines(w));

  // Log only the text messages plus WM_NULL (the selected line's message).
  SendMessageW(w.log(), LB_SETCURSEL, 0, 0);
  w.RunLogCommand(spy::kCmdFilterAddSelected);
  w.RunLogCommand(spy::kCmdFilterGroup + mouse);
  w.RunLogCommand(spy::kCmdFilterGroup + text);
  w.RunLogCommand(spy::kCmdFilterInclude);
  EXPECT_TRUE(watched(WM_SETTEXT));
  EXPECT_TRUE(watched(WM_GETTEXTLENGTH));
  EXPECT_TRUE(watched(WM_NULL));
  EXPECT_FALSE(watched(WM_PAINT));
  EXPECT_FALSE(watched(WM_MOUSEMOVE));
  w.RunLogCommand(spy::kCmdClear);
  SendMessageW(target.hwnd(), WM_USER, 0, 0);
  SendMessageW(target.hwnd(), WM_GETTEXTLENGTH, 0, 0);
  EXPECT_EQ(std::vector<std::wstring>{L"WM_GETTEXTLENGTH, 0, 0"}, ShownLines(w));

  // Remembered per user, and applied at the next start.
  CloseAndForget();
  EXPECT_EQ(L"include", spy::GetSetting(app_, L"Tools", L"FilterMode", L""));
  EXPECT_EQ(L"Text", spy::GetSetting(app_, L"Tools", L"FilterGroups", L""));
  EXPECT_EQ(L"WM_NULL", spy::GetSetting(app_, L"Tools", L"FilterMessages", L""));
  auto& again = Open();
  EXPECT_TRUE(again.filter().include_only);
  SelectNode(again.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  VARIANT_BOOL v = VARIANT_TRUE;
  again.spy_window()->get_WatchMessage(WM_PAINT, &v);
  EXPECT_FALSE(v);
  again.spy_window()->get_WatchMessage(WM_NULL, &v);
  EXPECT_TRUE(v);

  // Unchecking everything is AllMessages again.
  again.RunLogCommand(spy::kCmdFilterForget);
  again.spy_window()->get_WatchMessage(0xFFFF, &v);
  EXPECT_TRUE(v);
}

// Groups are stored by fixed identifiers; a name stored by an earlier version, comma and all, is
// still read. The mouse group takes the pointer over the frame too.
TEST_F(Tools, StoredGroupsSurviveTheirNamesAndTheMouseGroupTakesHitTests) {
  spy::SaveSetting(app_, L"Tools", L"FilterMode", L"include");
  spy::SaveSetting(app_, L"Tools", L"FilterGroups", L"Mouse,User and application (WM_USER+n, WM_APP+n)");
  auto& w = Open();
  EXPECT_TRUE(w.filter().HasGroup(L"User"));
  EXPECT_TRUE(w.filter().HasGroup(L"User and application (WM_USER+n, WM_APP+n)"));
  EXPECT_TRUE(w.filter().Watches(WM_USER + 5)) << "log only: the user's messages are logged";
  EXPECT_FALSE(w.filter().Watches(WM_TIMER)) << "and nothing else";
  w.SetFilter(w.filter());
  EXPECT_EQ(L"Mouse,User", spy::GetSetting(app_, L"Tools", L"FilterGroups", L""));

  spy::MessageFilter no_mouse;
  no_mouse.SetGroups(L"Mouse");
  for (UINT m : std::vector<UINT>{WM_NCHITTEST, WM_NCMOUSEMOVE, WM_NCLBUTTONDOWN, WM_NCXBUTTONDBLCLK, 0x02A0, 0x02A2, WM_MOUSEMOVE})
    EXPECT_FALSE(no_mouse.Watches(m)) << std::hex << m;
  EXPECT_TRUE(no_mouse.Watches(WM_SIZE));
  EXPECT_TRUE(no_mouse.Watches(WM_NCPAINT));
}

// A spreadsheet takes a cell that starts with = + - @ for a formula: such cells are written as
// text. The style index of WM_STYLECHANGED reads by its name; a 32-bit program's -1 is FFFFFFFF.
TEST_F(Tools, CsvCellsAreNeverFormulasAndParametersKeepTheirProgramsWidth) {
  for (const std::wstring cell : {L"=1+2", L"+1", L"-16; old", L"@SUM(A1)"}) {
    const std::wstring written = spy::CsvField(cell);
    EXPECT_EQ(L"'" + cell, written);
  }
  EXPECT_EQ(L"\"'=a,b\"", spy::CsvField(L"=a,b"));
  EXPECT_EQ(L"0x1", spy::CsvField(L"0x1"));

  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  SetWindowLongW(target.hwnd(), GWL_STYLE, GetWindowLongW(target.hwnd(), GWL_STYLE) ^ WS_TABSTOP);
  const spy::LogRecord* changed = nullptr;
  for (size_t i = 0; i < w.store().size(); ++i)
    if (w.store().At(i)->msg == WM_STYLECHANGED) changed = w.store().At(i);
  ASSERT_NE(nullptr, changed);
  const std::wstring row = spy::CsvLine(*changed, w.decoder());
  EXPECT_NE(std::wstring::npos, row.find(L",\"GWL_STYLE; old ")) << row;
  EXPECT_EQ(std::wstring::npos, row.find(L",-16")) << row;

  SendMessageW(target.hwnd(), WM_USER, static_cast<WPARAM>(0xFFFFFFFFu), -2);
  const spy::LogRecord r = *w.store().Last();  // a copy: releasing Spy below empties the store
  const auto cells = ParseCsv(spy::CsvLine(r, w.decoder()) + L"\r\n");
  ASSERT_EQ(1u, cells.size());
  EXPECT_EQ(L"0xFFFFFFFF", cells[0][6]);
  EXPECT_EQ(sizeof(void*) == 4 ? L"0xFFFFFFFE" : L"0xFFFFFFFFFFFFFFFE", cells[0][7]);
  EXPECT_EQ(L"400, FFFFFFFF, FFFFFFFE", ShownLines(w).back()) << "the log's line as it was";
  ClickToolbar(1);  // the pane's text reads the window's caption
  const std::wstring pane = spy::DetailsText(r, w.decoder());
  EXPECT_NE(std::wstring::npos, pane.find(L"wParam:\t0xFFFFFFFF\r\n")) << pane;
}

// A filter or a pause that holds the log back shows in the caption, also when it comes from the
// settings at the next start.
TEST_F(Tools, TheCaptionSaysWhenTheLogIsFilteredOrPaused) {
  auto caption = [](HWND h) {
    wchar_t text[128] = {};
    GetWindowTextW(h, text, 128);
    return std::wstring(text);
  };
  auto& w = Open();
  const std::wstring plain = spy::kCaption;
  spy::MessageFilter f;
  f.SetGroups(L"Mouse");
  w.SetFilter(f);
  EXPECT_EQ(plain + L" (filtered)", caption(w.hwnd()));
  w.RunLogCommand(spy::kCmdPause);
  EXPECT_EQ(plain + L" (filtered) (paused)", caption(w.hwnd()));
  w.RunLogCommand(spy::kCmdPause);
  EXPECT_EQ(plain + L" (filtered)", caption(w.hwnd()));
  CloseAndForget();
  auto& again = Open();
  EXPECT_EQ(plain + L" (filtered)", caption(again.hwnd()));
  again.RunLogCommand(spy::kCmdFilterForget);
  EXPECT_EQ(plain, caption(again.hwnd()));
}

// A capture that ends by itself says so in the caption beside what holds the log back, until spying
// is switched again (the two notes overwrote each other).
TEST_F(Tools, TheCaptionKeepsTheFilterNoteWhenTheCaptureEndsByItself) {
  auto caption = [](HWND h) {
    wchar_t text[160] = {};
    GetWindowTextW(h, text, 160);
    return std::wstring(text);
  };
  auto target = std::make_unique<TestWindow>(nullptr, L"Goes away");
  auto& w = Open();
  spy::MessageFilter f;
  f.SetGroups(L"Mouse");
  w.SetFilter(f);
  SelectNode(w.FindNode(KeyOf(target->hwnd())));
  ClickToolbar(1);
  const std::wstring filtered = std::wstring(spy::kCaption) + L" (filtered)";
  EXPECT_EQ(filtered, caption(w.hwnd()));
  target.reset();
  PumpFor(600);
  EXPECT_EQ(filtered + L" - capture ended: the window was destroyed", caption(w.hwnd()));
  ClickToolbar(1);  // Spy released: the note goes, the filter's stays
  EXPECT_EQ(filtered, caption(w.hwnd()));
  w.RunLogCommand(spy::kCmdFilterForget);
}

// A capture file that runs on while another window is selected names each window where it begins.
TEST_F(Tools, ACaptureFileNamesTheWindowWhereItChanges) {
  TestWindow first(nullptr, L"First"), second(nullptr, L"Second");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(first.hwnd())));
  ClickToolbar(1);
  const std::wstring txt = TempPath(L"snoopet-windows.txt");
  w.StartCaptureFile(txt, false);
  SendMessageW(first.hwnd(), WM_USER, 1, 0);
  SelectNode(w.FindNode(KeyOf(second.hwnd())));
  SendMessageW(second.hwnd(), WM_USER, 2, 0);
  SelectNode(w.FindNode(KeyOf(second.hwnd())));  // the same window again: no new header
  SendMessageW(second.hwnd(), WM_USER, 3, 0);
  w.StopCaptureFile();
  bool bom = false;
  const std::wstring text = ReadUtf8(txt, &bom);
  auto header = [](HWND h) { return L"=== " + spy::MessageDecoder::DescribeWindow(reinterpret_cast<INT_PTR>(h)) + L" ===\r\n"; };
  EXPECT_EQ(header(first.hwnd()) + L"400, 1, 0\r\n" + header(second.hwnd()) + L"400, 2, 0\r\n400, 3, 0\r\n", text);
  DeleteFileW(txt.c_str());
}

TEST_F(Tools, RefreshTreeFromKeyOrButtonAddsNewWindowsAndKeepsTheSelectionAndTheCapture) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  SendMessageW(target.hwnd(), WM_USER, 1, 0);
  TestWindow later(nullptr, L"Later");
  EXPECT_EQ(nullptr, w.FindNode(KeyOf(later.hwnd())));
  SendMessageW(w.tree(), WM_KEYDOWN, VK_F5, 0);
  EXPECT_NE(nullptr, w.FindNode(KeyOf(later.hwnd())));
  EXPECT_EQ(w.FindNode(KeyOf(target.hwnd())), Next(w.tree(), nullptr, TVGN_CARET));
  SendMessageW(target.hwnd(), WM_USER, 2, 0);
  EXPECT_EQ((std::vector<std::wstring>{L"400, 1, 0", L"400, 2, 0"}), ShownLines(w))
      << "the log goes on as it was";

  // The toolbar's tools: Refresh and Details buttons beside the seed's two, gone again when off.
  w.RunLogCommand(spy::kCmdFinder);
  ASSERT_EQ(4, SendMessageW(w.toolbar(), TB_BUTTONCOUNT, 0, 0));
  TestWindow newer(nullptr, L"Newer");
  ClickToolbar(2);  // Refresh
  EXPECT_NE(nullptr, w.FindNode(KeyOf(newer.hwnd())));
  EXPECT_EQ(w.FindNode(KeyOf(target.hwnd())), Next(w.tree(), nullptr, TVGN_CARET));
  ClickToolbar(3);  // Details
  EXPECT_TRUE(w.details_visible());
  EXPECT_TRUE(SendMessageW(w.toolbar(), TB_ISBUTTONCHECKED, spy::kButtonDetails, 0));
  w.RunLogCommand(spy::kCmdDetails);  // from the menu: the button follows
  EXPECT_FALSE(SendMessageW(w.toolbar(), TB_ISBUTTONCHECKED, spy::kButtonDetails, 0));
  w.RunLogCommand(spy::kCmdFinder);
  EXPECT_EQ(2, SendMessageW(w.toolbar(), TB_BUTTONCOUNT, 0, 0));
}

}  // namespace
}  // namespace spy_test

namespace spy_test {
namespace {

TEST_F(Tools, FinderDraggedOverAWindowOutlinesAndSelectsItBuildingTheTreeForANewOne) {
  TestWindow first(nullptr, L"First");
  auto& w = Open();
  EXPECT_EQ(nullptr, w.finder()) << "no finder until it is turned on";
  w.RunLogCommand(spy::kCmdFinder);
  ASSERT_NE(nullptr, w.finder());
  EXPECT_TRUE(IsWindowVisible(w.finder()));
  EXPECT_EQ(Low32(w.toolbar()), Low32(GetParent(w.finder())));
  SelectNode(w.FindNode(KeyOf(first.hwnd())));
  ClickToolbar(1);

  // A window that came after the tree, in front of everything, away from Snoopet's window.
  TestWindow later(nullptr, L"Later");
  RECT form;
  GetWindowRect(w.hwnd(), &form);
  SetWindowPos(later.hwnd(), HWND_TOPMOST, form.right - 260, form.bottom - 200, 200, 120, SWP_SHOWWINDOW | SWP_NOACTIVATE);
  ASSERT_EQ(nullptr, w.FindNode(KeyOf(later.hwnd())));
  RECT r;
  GetWindowRect(later.hwnd(), &r);
  POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ASSERT_EQ(later.hwnd(), WindowFromPoint(at));
  ScreenToClient(w.finder(), &at);
  const LPARAM over = MAKELPARAM(at.x, at.y);

  // Dragged over it, then Esc (to the focus, as a key press goes), or the capture lost: nothing chosen.
  SetFocus(w.log());
  SendMessageW(w.finder(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  EXPECT_EQ(w.finder(), GetCapture());
  SendMessageW(w.finder(), WM_MOUSEMOVE, MK_LBUTTON, over);
  EXPECT_EQ(later.hwnd(), w.finder_outlined());
  SendMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(nullptr, w.finder_outlined());
  EXPECT_EQ(nullptr, GetCapture());
  EXPECT_EQ(w.log(), GetFocus()) << "the focus is back where it was";
  SendMessageW(w.finder(), WM_LBUTTONUP, 0, over);
  SendMessageW(w.finder(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  SendMessageW(w.finder(), WM_MOUSEMOVE, MK_LBUTTON, over);
  ReleaseCapture();
  EXPECT_EQ(nullptr, w.finder_outlined());
  SendMessageW(w.finder(), WM_LBUTTONUP, 0, over);
  EXPECT_EQ(w.FindNode(KeyOf(first.hwnd())), Next(w.tree(), nullptr, TVGN_CARET));

  // Released over it: the tree is built anew and the window selected; the log follows it.
  SendMessageW(w.finder(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  SendMessageW(w.finder(), WM_MOUSEMOVE, MK_LBUTTON, over);
  SendMessageW(w.finder(), WM_LBUTTONUP, 0, over);
  EXPECT_EQ(nullptr, w.finder_outlined());
  EXPECT_NE(w.finder(), GetCapture());
  ASSERT_NE(nullptr, w.FindNode(KeyOf(later.hwnd())));
  EXPECT_EQ(w.FindNode(KeyOf(later.hwnd())), Next(w.tree(), nullptr, TVGN_CARET));
  SendMessageW(later.hwnd(), WM_USER, 9, 0);
  EXPECT_EQ(L"400, 9, 0", ShownLines(w).back());

  CloseAndForget();
  EXPECT_EQ(L"1", spy::GetSetting(app_, L"Tools", L"Finder", L"<absent>"));
}

}  // namespace
}  // namespace spy_test

namespace spy_test {
namespace {

// What a thread timer saw of the open popup menu before it closed it.
std::vector<std::wstring> g_menu_items;
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (HWND popup = FindWindowW(L"#32768", nullptr); popup && IsWindowVisible(popup)) {
    auto menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
      wchar_t text[128] = {};
      GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
      g_menu_items.push_back(text);
    }
  }
  EndMenu();
}

TEST_F(Tools, TheLogsRightClickAndTheSystemMenuOpenTheToolsMenu) {
  auto& w = Open();
  // A right click in the log: the list box passes WM_CONTEXTMENU up to the form.
  g_menu_items.clear();
  SetTimer(nullptr, 0, 200, CloseMenu);
  RECT r;
  GetWindowRect(w.log(), &r);
  SendMessageW(w.log(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(w.log()), MAKELPARAM(r.left + 20, r.top + 20));
  ASSERT_FALSE(g_menu_items.empty()) << "no menu opened";
  EXPECT_EQ(L"&Pause", g_menu_items.front());
  EXPECT_NE(g_menu_items.end(), std::find(g_menu_items.begin(), g_menu_items.end(), L"&Details"));
  // Each item its own letter: a letter shared by two runs the first of them at once.
  std::wstring letters;
  for (const auto& item : g_menu_items) {
    const size_t amp = item.find(L'&');
    if (amp == std::wstring::npos || amp + 1 >= item.size()) continue;
    const wchar_t letter = static_cast<wchar_t>(towlower(item[amp + 1]));
    EXPECT_EQ(std::wstring::npos, letters.find(letter)) << "twice: " << static_cast<char>(letter);
    letters += letter;
  }

  g_menu_items.clear();
  SetTimer(nullptr, 0, 200, CloseMenu);
  SendMessageW(w.hwnd(), WM_SYSCOMMAND, spy::kSysCmdLogMenu, 0);
  ASSERT_FALSE(g_menu_items.empty()) << "no menu from the system menu";
  EXPECT_EQ(L"&Pause", g_menu_items.front());
  HMENU system = GetSystemMenu(w.hwnd(), FALSE);
  wchar_t text[64] = {};
  GetMenuStringW(system, spy::kSysCmdLogMenu, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(std::wstring(L"Log &Tools..."), text);
  EXPECT_FALSE(w.paused()) << "closing the menu runs nothing";
}

}  // namespace
}  // namespace spy_test

namespace spy_test {
namespace {

TEST_F(Tools, SpyingOnTheMainWindowWithTheDetailsPaneAndTheFinderStaysBounded) {
  auto& w = Open();
  w.RunLogCommand(spy::kCmdDetails);
  w.RunLogCommand(spy::kCmdFinder);
  SelectNode(w.FindNode(KeyOf(w.hwnd())));
  ClickToolbar(1);
  SendMessageW(w.hwnd(), WM_NULL, 1, 0);
  InvalidateRect(w.details(), nullptr, TRUE);  // the pane repaints: nothing of it is news
  InvalidateRect(w.finder(), nullptr, TRUE);
  PumpFor(300);
  const LRESULT settled = SendMessageW(w.log(), LB_GETCOUNT, 0, 0);
  PumpFor(300);
  EXPECT_EQ(settled, SendMessageW(w.log(), LB_GETCOUNT, 0, 0)) << "the log does not grow by itself";
  EXPECT_LT(settled, 50);
  // The pane shows the newest line.
  std::wstring text(2048, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(w.details(), text.data(), 2048)));
  EXPECT_NE(std::wstring::npos, text.find(L"Number:\t" + std::to_wstring(w.store().At(w.store().size() - 1)->index)))
      << testing::PrintToString(text);
}

}  // namespace
}  // namespace spy_test
