// Attaching, detaching, termination and the dispatch of the seven messages, watched through
// a recording layer around the real subclassing object.
#include <gtest/gtest.h>

#include <functional>

#include "menu_fixture.h"
#include "recording_window.h"
#include "hex.h"
#include "words.h"

using common::com_ptr;
using namespace menu_test;

namespace {

const std::vector<std::wstring> kAttachCalls = {
    L"WatchMessage 2C True",  L"WatchMessage 120 True", L"WatchMessage 2B True", L"WatchMessage 15 True",
    L"WatchMessage 1A True",  L"WatchMessage 117 True", L"WatchMessage 116 True", L"WatchMessage 2E0 True",
    L"Subclassed True",
    L"MessageSink set"};

std::vector<std::wstring> From(const std::vector<std::wstring>& log, size_t from) {
  return std::vector<std::wstring>(log.begin() + static_cast<std::ptrdiff_t>(std::min(from, log.size())), log.end());
}

bool AllOwn(HMENU menu) {
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    if (!glyphary::IsOwnItemData(static_cast<uint32_t>(ItemData(menu, i)))) return false;
    if (!(ItemType(menu, i) & MFT_OWNERDRAW)) return false;
    if (HMENU sub = GetSubMenu(menu, i); sub && !AllOwn(sub)) return false;
  }
  return true;
}

}  // namespace

TEST(Attach, SevenRegistrationsInOrderThenSubclassingThenTheSinkAndTheWholeMenuPrepared) {
  RecordedWindows rec;
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(std::vector<std::wstring>{L"created"}, rec.log) << "class initialisation creates the window object";
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  std::vector<std::wstring> expected{L"hWnd " + common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(form->hwnd())))};
  expected.insert(expected.end(), kAttachCalls.begin(), kAttachCalls.end());
  EXPECT_EQ(expected, From(rec.log, 1));
  EXPECT_TRUE(AllOwn(form->MenuBar())) << "bar and every sub-menu prepared before Form returns";
  EXPECT_EQ(GetSubMenu(form->MenuBar(), 0), g->FirstPopup());
  EXPECT_NE(nullptr, g->MenuFont());

  // Form again: every registration is repeated.
  size_t mark = rec.log.size();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  EXPECT_EQ(kAttachCalls, From(rec.log, mark + 1));

  // A form whose window is gone: detached, nothing else.
  auto gone = client::FormObject::Create(L"gone");
  gone->Close();
  mark = rec.log.size();
  ASSERT_EQ(S_OK, SetForm(g.get(), gone.get()));
  EXPECT_EQ((std::vector<std::wstring>{L"hWnd 0", L"WatchMessage FFFF False", L"Subclassed False", L"MessageSink nothing"}),
            From(rec.log, mark));
  // Detaching gives the prepared items back (DetachAndReleaseGiveEveryPreparedItemItsTextItemBack).
  EXPECT_FALSE(glyphary::IsOwnItemData(static_cast<uint32_t>(ItemData(form->MenuBar(), 0))));

  // Termination while attached: subclassing off and the object released; nothing else first.
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  mark = rec.log.size();
  g.reset();
  EXPECT_EQ((std::vector<std::wstring>{L"Subclassed False", L"released"}), From(rec.log, mark));
  EXPECT_FALSE(glyphary::IsOwnItemData(static_cast<uint32_t>(ItemData(form->MenuBar(), 0))))
      << "termination gives the items back";
  EXPECT_EQ(0, SendMessageW(form->hwnd(), WM_MENUCHAR, 'n', reinterpret_cast<LPARAM>(GetSubMenu(form->MenuBar(), 0))))
      << "nothing answers once the component is gone";
}

TEST(Attach, FormWithoutMenuHasNoFirstPopup) {
  RecordedWindows rec;
  auto form = client::FormObject::Create(L"no menu");
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  EXPECT_EQ(nullptr, g->FirstPopup());
  EXPECT_EQ(0, g->ItemCount());
  EXPECT_EQ(kAttachCalls, From(rec.log, 2));
}

// Each row of the table, with real messages sent to the form. Below the subclassing object a
// recorder stands for the form's previous procedure and answers 0x77.
TEST(Dispatch, WhatIsPassedOnAndWhatResultReturnsPerMessage) {
  RecordedWindows rec;
  auto form = SampleForm();
  HWND h = form->hwnd();
  std::vector<UINT> previous;
  TopSubclass below(h, [&](HWND, UINT msg, WPARAM, LPARAM, LRESULT* r) {
    if (msg == WM_INITMENU || msg == WM_SETTINGCHANGE || msg == WM_SYSCOLORCHANGE || msg == WM_MEASUREITEM ||
        msg == WM_INITMENUPOPUP || msg == WM_MENUCHAR || msg == WM_DRAWITEM || msg == WM_USER + 1) {
      previous.push_back(msg);
      *r = 0x77;
      return true;
    }
    return false;
  });
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  const HMENU edit = GetSubMenu(form->MenuBar(), 1);

  struct Row {
    const wchar_t* what;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    LRESULT returned;           // what SendMessage returns
    const wchar_t* answer;      // the component's result
    bool passed_on;             // the component called CallPrevWndProc
    bool previous_ran;          // the recorder saw the message
  };
  MEASUREITEMSTRUCT own{ODT_MENU, 0, 101, 0, 0, static_cast<ULONG_PTR>(ItemData(file, 0))};
  MEASUREITEMSTRUCT control{ODT_BUTTON, 7, 0, 0, 0, 0};
  DRAWITEMSTRUCT button{};
  button.CtlType = ODT_BUTTON;
  const LRESULT choose_open = glyphary::MakeLong(1, MNC_EXECUTE);
  const std::vector<Row> rows = {
      {L"WM_INITMENU", WM_INITMENU, reinterpret_cast<WPARAM>(form->MenuBar()), 0, 0x77, L"119", true, true},
      {L"WM_SETTINGCHANGE", WM_SETTINGCHANGE, 0, 0, 0x77, L"119", true, true},
      {L"WM_SYSCOLORCHANGE", WM_SYSCOLORCHANGE, 0, 0, 0x77, L"119", true, true},
      {L"WM_MEASUREITEM for a menu item", WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&own), 1, L"1", false, false},
      {L"WM_MEASUREITEM for a control", WM_MEASUREITEM, 7, reinterpret_cast<LPARAM>(&control), 0x77, L"119", true, true},
      {L"WM_INITMENUPOPUP window menu", WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(edit), MAKELPARAM(1, 1), 0x77, L"119",
       true, true},
      {L"WM_INITMENUPOPUP popup", WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(edit), MAKELPARAM(1, 0), 0x77, L"119", true,
       true},
      {L"WM_MENUCHAR with a match", WM_MENUCHAR, MAKEWPARAM('o', MF_POPUP), reinterpret_cast<LPARAM>(file), choose_open,
       L"131073", false, false},
      {L"WM_DRAWITEM for a control", WM_DRAWITEM, 3, reinterpret_cast<LPARAM>(&button), 0x77, L"0", false, true},
      {L"unwatched message", WM_USER + 1, 0, 0, 0x77, nullptr, false, true},
  };
  for (const Row& row : rows) {
    previous.clear();
    size_t mark = rec.log.size();
    LRESULT r = SendMessageW(h, row.msg, row.wp, row.lp);
    EXPECT_EQ(row.returned, r) << row.what;
    auto calls = From(rec.log, mark);
    std::vector<std::wstring> expected;
    if (row.passed_on) expected.push_back(L"CallPrevWndProc " + common::Hex(static_cast<int32_t>(row.msg)));
    if (row.answer) expected.push_back(L"Message " + common::Hex(static_cast<int32_t>(row.msg)) + L" -> " + row.answer);
    EXPECT_EQ(expected, calls) << row.what;
    EXPECT_EQ(row.previous_ran, !previous.empty()) << row.what;
  }
  // A message the table does not name: nothing done, result left as received.
  LONG_PTR result = 42;
  EXPECT_EQ(S_OK, g->Message(WM_PAINT, 1, 2, &result));
  EXPECT_EQ(42, result);
}

namespace {

// The form's own procedure (below the component) as an application writes it: its
// WM_INITMENUPOPUP handler adds an item to the popup the first time, and answers 0x55.
struct AppInitHandler {
  explicit AppInitHandler(HWND h)
      : sub(h, [this](HWND, UINT msg, WPARAM wp, LPARAM lp, LRESULT* r) {
          if (msg != WM_INITMENUPOPUP) return false;
          const HMENU popup = reinterpret_cast<HMENU>(wp);
          // What the handler sees of the popup's first item: still a text item with its text.
          wchar_t text[64] = {};
          GetMenuStringW(popup, 0, text, 64, MF_BYPOSITION);
          seen.push_back({popup, lp, text});
          if (add_to == popup) {
            AppendMenuW(popup, MF_STRING, 4321, L"&Added by the application");
            add_to = nullptr;
          }
          *r = 0x55;
          return true;
        }) {}
  struct Seen {
    HMENU popup;
    LPARAM position;
    std::wstring first_text;
  };
  std::vector<Seen> seen;
  HMENU add_to = nullptr;
  TopSubclass sub;
};

}  // namespace

// The application's own WM_INITMENUPOPUP handler runs for every popup, before the component
// prepares it, and its answer is what the form returns.
TEST(Dispatch, ApplicationInitMenuPopupRunsFirstForEveryPopupAndItsAnswerIsReturned) {
  auto form = SampleForm();
  AppInitHandler app(form->hwnd());
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU edit = GetSubMenu(form->MenuBar(), 1);
  const HWND h = form->hwnd();

  app.add_to = edit;
  EXPECT_EQ(0x55, SendMessageW(h, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(edit), MAKELPARAM(1, 0)));
  ASSERT_EQ(1u, app.seen.size()) << "a popup the component walks";
  ASSERT_EQ(4, GetMenuItemCount(edit));
  EXPECT_TRUE(ItemType(edit, 3) & MFT_OWNERDRAW) << "the item the application added is prepared too";
  EXPECT_TRUE(glyphary::IsOwnItemData(static_cast<uint32_t>(ItemData(edit, 3))));

  // Popups the walk skips: the window menu, a sub-menu at position 0, a context menu.
  HMENU context = CreatePopupMenu();
  AppendMenuW(context, MF_STRING, 77, L"&Context");
  const struct {
    HMENU popup;
    LPARAM position;
  } skipped[] = {{GetSystemMenu(h, FALSE), MAKELPARAM(0, 1)}, {edit, MAKELPARAM(0, 0)}, {context, MAKELPARAM(0, 0)}};
  for (const auto& s : skipped) {
    app.seen.clear();
    EXPECT_EQ(0x55, SendMessageW(h, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(s.popup), s.position));
    ASSERT_EQ(1u, app.seen.size()) << "the application's handler ran";
    EXPECT_EQ(s.popup, app.seen[0].popup);
    EXPECT_EQ(s.position, app.seen[0].position);
  }
  DestroyMenu(context);
}

// Detaching (Form = a form without a window) and releasing the component give every prepared
// item its text item back: type, text, item data 0; nobody would paint them otherwise.
TEST(Attach, DetachAndReleaseGiveEveryPreparedItemItsTextItemBack) {
  auto check_plain = [](HMENU bar, const std::vector<std::wstring>& before, const char* when) {
    std::vector<std::wstring> now;
    std::function<void(HMENU)> walk = [&](HMENU m) {
      for (int i = 0; i < GetMenuItemCount(m); ++i) {
        EXPECT_EQ(0u, ItemType(m, i) & MFT_OWNERDRAW) << when << " item " << i;
        EXPECT_EQ(0u, ItemData(m, i)) << when << " item " << i;
        wchar_t text[128] = {};
        GetMenuStringW(m, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        now.push_back(text);
        if (HMENU s = GetSubMenu(m, i)) walk(s);
      }
    };
    walk(bar);
    EXPECT_EQ(before, now) << when;
  };
  auto texts = [](HMENU bar) {
    std::vector<std::wstring> all;
    std::function<void(HMENU)> walk = [&](HMENU m) {
      for (int i = 0; i < GetMenuItemCount(m); ++i) {
        wchar_t text[128] = {};
        GetMenuStringW(m, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        all.push_back(text);
        if (HMENU s = GetSubMenu(m, i)) walk(s);
      }
    };
    walk(bar);
    return all;
  };
  auto form = SampleForm();
  const std::vector<std::wstring> before = texts(form->MenuBar());
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  ASSERT_TRUE(AllOwn(form->MenuBar()));
  auto gone = client::FormObject::Create(L"gone");
  gone->Close();
  ASSERT_EQ(S_OK, SetForm(g.get(), gone.get()));
  check_plain(form->MenuBar(), before, "detached");

  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  ASSERT_TRUE(AllOwn(form->MenuBar()));
  g.reset();
  check_plain(form->MenuBar(), before, "released");
}

// A bar set later with SetMenu (MDI switches the bar the same way): its first popup is the
// first popup of the window's menu at the time of the message, and is walked.
TEST(Dispatch, FirstPopupOfABarSetLaterIsWalked) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU first_bar = form->MenuBar();
  HMENU bar = CreateMenu();
  HMENU doc = CreatePopupMenu();
  AppendMenuW(doc, MF_STRING, 801, L"&Document");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(doc), L"&Doc");
  ASSERT_TRUE(SetMenu(form->hwnd(), bar));
  SendMessageW(form->hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(doc), MAKELPARAM(0, 0));
  EXPECT_TRUE(ItemType(doc, 0) & MFT_OWNERDRAW) << "the new bar's first popup";
  // And back: the form's own first popup is walked again, the other bar's is not.
  ASSERT_TRUE(SetMenu(form->hwnd(), first_bar));
  const HMENU file = GetSubMenu(first_bar, 0);
  form->Control(L"mnuNew")->SetCaption(L"&Fresh");
  SendMessageW(form->hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(file), MAKELPARAM(0, 0));
  EXPECT_TRUE(ItemType(file, 0) & MFT_OWNERDRAW);
  EXPECT_EQ(L"&Fresh", g->ItemAt(glyphary::ItemSlot(static_cast<uint32_t>(ItemData(file, 0)))).Caption);
  AppendMenuW(doc, MF_STRING, 802, L"&More");
  SendMessageW(form->hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(doc), MAKELPARAM(0, 0));
  EXPECT_FALSE(ItemType(doc, 1) & MFT_OWNERDRAW) << "a position-0 popup of no bar of the window";
  DestroyMenu(bar);
}

// While the system says a screen reader runs, the menus stay as the platform draws them; the
// switch follows WM_SETTINGCHANGE both ways.
TEST(ScreenReader, MenusAreThePlatformsWhileAScreenReaderRuns) {
  struct Reader {
    explicit Reader(BOOL on) { SystemParametersInfoW(SPI_SETSCREENREADER, on, nullptr, 0); }
    ~Reader() { SystemParametersInfoW(SPI_SETSCREENREADER, FALSE, nullptr, 0); }
  };
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  ASSERT_TRUE(AllOwn(form->MenuBar()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  {
    Reader on(TRUE);
    BOOL running = FALSE;
    SystemParametersInfoW(SPI_GETSCREENREADER, 0, &running, 0);
    ASSERT_TRUE(running) << "the platform keeps the setting";
    SendMessageW(form->hwnd(), WM_SETTINGCHANGE, SPI_SETSCREENREADER, 0);
    for (int i = 0; i < GetMenuItemCount(file); ++i) {
      EXPECT_EQ(0u, ItemType(file, i) & MFT_OWNERDRAW) << i;
      EXPECT_EQ(0u, ItemData(file, i)) << i;
    }
    SendMessageW(form->hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(file), MAKELPARAM(0, 0));
    EXPECT_EQ(0u, ItemType(file, 0) & MFT_OWNERDRAW) << "opening a popup leaves it the platform's";
    wchar_t text[64] = {};
    GetMenuStringW(file, 1, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(L"&Open...\tCtrl+O", text);
  }
  SendMessageW(form->hwnd(), WM_SETTINGCHANGE, SPI_SETSCREENREADER, 0);
  EXPECT_TRUE(AllOwn(form->MenuBar())) << "owner-drawn again once the reader is gone";
}

// A key no item of ours matches goes on to the application's own WM_MENUCHAR handler (the
// subclassing object hands a message the sink neither answered nor passed on to the window).
TEST(Dispatch, MenuCharWithoutAMatchReachesTheApplication) {
  auto form = SampleForm();
  int seen = 0;
  TopSubclass app(form->hwnd(), [&](HWND, UINT msg, WPARAM, LPARAM, LRESULT* r) {
    if (msg != WM_MENUCHAR) return false;
    ++seen;
    *r = MAKELRESULT(2, MNC_EXECUTE);
    return true;
  });
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const LPARAM file = reinterpret_cast<LPARAM>(GetSubMenu(form->MenuBar(), 0));
  EXPECT_EQ(MAKELRESULT(1, MNC_EXECUTE), SendMessageW(form->hwnd(), WM_MENUCHAR, MAKEWPARAM('o', MF_POPUP), file));
  EXPECT_EQ(0, seen) << "a match is the component's answer";
  EXPECT_EQ(MAKELRESULT(2, MNC_EXECUTE), SendMessageW(form->hwnd(), WM_MENUCHAR, MAKEWPARAM('q', MF_POPUP), file));
  EXPECT_EQ(1, seen);
}
