// Attaching, detaching, termination and the dispatch of the seven messages, watched through
// a recording layer around the real subclassing object.
#include <gtest/gtest.h>

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
  // Detaching leaves the prepared items as they are.
  EXPECT_TRUE(AllOwn(form->MenuBar()));

  // Termination while attached: subclassing off and the object released; nothing else first.
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  mark = rec.log.size();
  g.reset();
  EXPECT_EQ((std::vector<std::wstring>{L"Subclassed False", L"released"}), From(rec.log, mark));
  EXPECT_TRUE(AllOwn(form->MenuBar())) << "termination does not turn items back into text items";
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
      {L"WM_INITMENUPOPUP window menu", WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(edit), MAKELPARAM(1, 1), 1, L"1",
       false, false},
      {L"WM_INITMENUPOPUP popup", WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(edit), MAKELPARAM(1, 0), 0x77, L"0", false,
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
