// Message names and decoded parameters, checked on real captures: real controls of the test's
// thread are watched through Snoopet's window and the records of the logged lines are read back.
#include "spy_fixture.h"

#include <commctrl.h>

namespace spy_test {
namespace {

using Decode = SpyTest;
using testing_support::TestWindow;

// The control windows of one test: an edit, a list box and a progress bar on a parent.
struct Controls {
  TestWindow parent{nullptr, L"Decode parent"};
  HWND edit = CreateWindowExW(0, L"EDIT", L"first", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, parent.hwnd(), nullptr,
                              nullptr, nullptr);
  HWND list = CreateWindowExW(0, L"LISTBOX", nullptr, WS_CHILD | WS_VISIBLE, 0, 30, 100, 60, parent.hwnd(), nullptr,
                              nullptr, nullptr);
  HWND progress = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 0, 100, 100, 10, parent.hwnd(),
                                  nullptr, nullptr, nullptr);
  ~Controls() {
    DestroyWindow(edit);
    DestroyWindow(list);
    DestroyWindow(progress);
  }
};

// A logged record with its words, as the details pane shows them.
struct Seen : spy::LogRecord, spy::RecordText {};

class Watch {
 public:
  // Selects the window's node: with "Spy" pressed, the log follows it.
  Watch(spy::MainWindow& w, HWND target) : w_(w) {
    SendMessageW(w.tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(w.FindNode(KeyOf(target))));
  }
  // The records logged since the last call.
  std::vector<Seen> Take() {
    std::vector<Seen> out;
    for (size_t i = seen_; i < w_.store().size(); ++i) {
      const spy::LogRecord& r = *w_.store().At(i);
      out.push_back(Seen{r, spy::Describe(r, w_.decoder())});
    }
    seen_ = w_.store().size();
    return out;
  }

 private:
  spy::MainWindow& w_;
  size_t seen_ = 0;
};

const Seen* Find(const std::vector<Seen>& records, UINT msg) {
  for (const auto& r : records)
    if (r.msg == msg) return &r;
  return nullptr;
}

TEST_F(Decode, TheClassOfTheWatchedWindowNamesItsOwnMessages) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  Controls c;
  auto& w = Open();
  ASSERT_NE(nullptr, w.FindNode(KeyOf(c.edit)));
  ClickToolbar(1);

  Watch edit(w, c.edit);
  SendMessageW(c.edit, EM_SETSEL, 2, 5);
  SendMessageW(c.edit, EM_GETLINECOUNT, 0, 0);
  SendMessageW(c.edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"say \"hi\", then\r\nbye"));
  auto got = edit.Take();
  ASSERT_NE(nullptr, Find(got, EM_SETSEL));
  EXPECT_EQ(L"EM_SETSEL", Find(got, EM_SETSEL)->name);
  EXPECT_EQ(L"EM_GETLINECOUNT", Find(got, EM_GETLINECOUNT)->name);
  ASSERT_NE(nullptr, Find(got, WM_SETTEXT));
  EXPECT_EQ(L"\"say \\\"hi\\\", then\\r\\nbye\"", Find(got, WM_SETTEXT)->details);
  EXPECT_EQ(L"posted, or sent by the window's own thread", Find(got, WM_SETTEXT)->origin);
  SendMessageW(c.edit, WM_USER + 50, 0, 0);  // a rich edit's EM_CANPASTE: no name for a plain edit
  got = edit.Take();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(L"WM_USER+50", got[0].name);

  Watch list(w, c.list);
  SendMessageW(c.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"one"));
  SendMessageW(c.list, LB_SETCURSEL, 0, 0);
  got = list.Take();
  ASSERT_NE(nullptr, Find(got, LB_ADDSTRING));
  EXPECT_EQ(L"LB_ADDSTRING", Find(got, LB_ADDSTRING)->name);
  EXPECT_EQ(L"LB_SETCURSEL", Find(got, LB_SETCURSEL)->name);
  EXPECT_EQ(L", 0, ", ShownLines(w).front().substr(0, 5)) << "the log's own line keeps the seed's text";

  // The same number means different things to different classes, and to a window of one's own.
  Watch bar(w, c.progress);
  SendMessageW(c.progress, PBM_SETPOS, 40, 0);
  got = bar.Take();
  ASSERT_NE(nullptr, Find(got, PBM_SETPOS));
  EXPECT_EQ(L"PBM_SETPOS", Find(got, PBM_SETPOS)->name);

  Watch parent(w, c.parent.hwnd());
  const UINT registered = RegisterWindowMessageW(L"SnoopetDecodeTest");
  SendMessageW(c.parent.hwnd(), PBM_SETPOS, 0, 0);
  SendMessageW(c.parent.hwnd(), WM_APP + 7, 0, 0);
  SendMessageW(c.parent.hwnd(), registered, 0, 0);
  SendMessageW(c.parent.hwnd(), WM_NULL, 0, 0);
  got = parent.Take();
  ASSERT_EQ(4u, got.size());
  EXPECT_EQ(L"WM_USER+2", got[0].name);
  EXPECT_EQ(L"WM_APP+7", got[1].name);
  EXPECT_EQ(L"SnoopetDecodeTest", got[2].name);
  EXPECT_EQ(L"WM_NULL", got[3].name);
  EXPECT_EQ(L"0x0400", spy::MessageHex(WM_USER));
}

TEST_F(Decode, ParametersOfCommonMessagesInWords) {
  Controls c;
  auto& w = Open();
  ClickToolbar(1);
  Watch parent(w, c.parent.hwnd());
  HWND h = c.parent.hwnd();
  SendMessageW(h, WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT, MAKELPARAM(10, -3));
  SetWindowPos(h, nullptr, 0, 0, 321, 123, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(h, WM_SETFOCUS, reinterpret_cast<WPARAM>(c.edit), 0);
  SendMessageW(h, WM_KEYDOWN, VK_F5, 0x003F0001);
  SendMessageW(h, WM_CHAR, L'q', 1);
  SendMessageW(h, WM_COMMAND, MAKEWPARAM(7, EN_CHANGE), reinterpret_cast<LPARAM>(c.edit));
  auto got = parent.Take();

  ASSERT_NE(nullptr, Find(got, WM_MOUSEMOVE));
  EXPECT_EQ(L"MK_LBUTTON | MK_SHIFT; x=10 y=-3", Find(got, WM_MOUSEMOVE)->details);
  ASSERT_NE(nullptr, Find(got, WM_WINDOWPOSCHANGING));
  const std::wstring pos = Find(got, WM_WINDOWPOSCHANGING)->details;
  EXPECT_NE(std::wstring::npos, pos.find(L"cx=321 cy=123")) << testing::PrintToString(pos);
  EXPECT_NE(std::wstring::npos, pos.find(L"SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE")) << testing::PrintToString(pos);
  ASSERT_NE(nullptr, Find(got, WM_SIZE));
  RECT client;
  GetClientRect(h, &client);
  EXPECT_EQ(L"SIZE_RESTORED; width " + std::to_wstring(client.right) + L" height " + std::to_wstring(client.bottom),
            Find(got, WM_SIZE)->details);
  ASSERT_NE(nullptr, Find(got, WM_GETMINMAXINFO));
  EXPECT_EQ(0u, Find(got, WM_GETMINMAXINFO)->details.find(L"max size ")) << "the structure was read";
  ASSERT_NE(nullptr, Find(got, WM_SETFOCUS));
  EXPECT_NE(std::wstring::npos, Find(got, WM_SETFOCUS)->details.find(L" Edit \"first\""))
      << testing::PrintToString(Find(got, WM_SETFOCUS)->details);
  ASSERT_NE(nullptr, Find(got, WM_KEYDOWN));
  EXPECT_EQ(L"VK_F5; repeat 1, scan 0x3F", Find(got, WM_KEYDOWN)->details);
  EXPECT_EQ(L"'q' U+0071; repeat 1, scan 0x00", Find(got, WM_CHAR)->details);
  EXPECT_EQ(0u, Find(got, WM_COMMAND)->details.find(L"id 7, code EN_CHANGE; ")) << "named by the edit's class";
}

// The messages a developer meets every day, each read the way its parameters are meant.
TEST_F(Decode, EverydayMessagesReadAsTheirParametersMean) {
  Controls c;
  HWND button = CreateWindowExW(0, L"BUTTON", L"ok", WS_CHILD, 0, 0, 10, 10, c.parent.hwnd(), nullptr, nullptr, nullptr);
  auto& w = Open(false);
  HWND h = c.parent.hwnd();
  struct Case {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    std::wstring expected;  // the whole details text, or its start when it ends with "*"
  };
  const std::vector<Case> cases{
      {WM_SYSCOMMAND, SC_KEYMENU, L'f', L"SC_KEYMENU; key 'f' U+0066"},
      {WM_SYSCOMMAND, SC_KEYMENU, 0, L"SC_KEYMENU; no key (F10 or Alt alone)"},
      {WM_SYSCOMMAND, SC_CLOSE, MAKELPARAM(5, 6), L"SC_CLOSE; x=5 y=6"},
      {WM_CONTEXTMENU, reinterpret_cast<WPARAM>(h), -1, spy::MessageDecoder::DescribeWindow(reinterpret_cast<INT_PTR>(h)) + L"; from the keyboard"},
      {WM_SETCURSOR, reinterpret_cast<WPARAM>(h), MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN), L"*HTCLIENT, WM_LBUTTONDOWN"},
      {WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(h), MAKELPARAM(HTCAPTION, WM_RBUTTONDOWN), L"*HTCAPTION, WM_RBUTTONDOWN"},
      {WM_ERASEBKGND, 0x1234, 0, L"0x1234"},
      {WM_CTLCOLORSTATIC, 0x2468, reinterpret_cast<LPARAM>(button), L"0x2468; *"},
      {WM_SETFONT, 0x55, TRUE, L"0x55; TRUE"},
      {WM_INITMENUPOPUP, 0x77, MAKELPARAM(2, 1), L"0x77; index 2, window menu"},
      {WM_MENUSELECT, MAKEWPARAM(9, MF_POPUP | MF_HILITE), 0x77, L"item 9, MF_POPUP | MF_HILITE; 0x77"},
      {WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0, L"menu closed"},
      {WM_XBUTTONDOWN, MAKEWPARAM(MK_XBUTTON2, XBUTTON2), MAKELPARAM(3, 4), L"MK_XBUTTON2, XBUTTON2; x=3 y=4"},
      {WM_SETICON, ICON_SMALL, 0x99, L"ICON_SMALL; 0x99"},
      {WM_GETICON, ICON_BIG, 96, L"ICON_BIG; 96"},
      {0x02E0 /*WM_DPICHANGED*/, MAKEWPARAM(144, 144), 0, L"dpi 144 x 144"},
      {WM_GETDLGCODE, VK_TAB, 0, L"VK_TAB; 0x0"},
      {WM_PRINT, 0x42, PRF_CLIENT | PRF_CHILDREN, L"0x42; PRF_CLIENT | PRF_CHILDREN"},
      {WM_COMMAND, MAKEWPARAM(3, BN_CLICKED), reinterpret_cast<LPARAM>(button), L"id 3, code BN_CLICKED; *"},
      {WM_COMMAND, MAKEWPARAM(40, 0), 0, L"id 40, code 0 (menu); NULL"},
      {WM_COMMAND, MAKEWPARAM(41, 1), 0, L"id 41, code 1 (accelerator); NULL"},
  };
  // Decoded as the pane reads a record of them (sending some of them for real would close the
  // window or open its menu).
  for (const auto& k : cases) {
    spy::MessageFacts facts{k.msg, static_cast<int64_t>(static_cast<LONG_PTR>(k.wp)), static_cast<int64_t>(k.lp),
                            L"Decode parent", nullptr};
    const std::wstring details = w.decoder().Decode(facts);
    if (!k.expected.empty() && k.expected.back() == L'*')
      EXPECT_EQ(0u, details.find(k.expected.substr(0, k.expected.size() - 1)))
          << std::hex << k.msg << " " << testing::PrintToString(details);
    else if (!k.expected.empty() && k.expected.front() == L'*')
      EXPECT_NE(std::wstring::npos, details.find(k.expected.substr(1)))
          << std::hex << k.msg << " " << testing::PrintToString(details);
    else
      EXPECT_EQ(k.expected, details) << std::hex << k.msg;
  }

  // An owner-drawn item's action and state by name.
  spy::CopiedData item;
  item.kind = spy::kDataDrawItem;
  item.values = {ODT_BUTTON, 3, 0, ODA_DRAWENTIRE, ODS_SELECTED | ODS_FOCUS, 0, 0, 0, 0, 20, 10};
  spy::MessageFacts facts{WM_DRAWITEM, 3, 0, L"", &item};
  EXPECT_EQ(0u, w.decoder().Decode(facts).find(L"3; ODT_BUTTON, control 3, item 0, ODA_DRAWENTIRE, ODS_SELECTED | ODS_FOCUS, rect "))
      << testing::PrintToString(w.decoder().Decode(facts));
  DestroyWindow(button);
}

}  // namespace
}  // namespace spy_test
