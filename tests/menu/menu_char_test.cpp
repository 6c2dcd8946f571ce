// Mnemonic keys on real open menus: the platform sends WM_MENUCHAR for the owner-drawn items
// and honours what the component answers.
#include <gtest/gtest.h>

#include <set>

#include "menu_fixture.h"
#include "words.h"

using common::com_ptr;
using namespace menu_test;

namespace {

struct MenuCharSeen {
  LRESULT result;
  int highlighted;  // the highlighted item when the key came, -1 for none
};

// Records every WM_MENUCHAR the form answers, above the component.
class MenuCharLog {
 public:
  explicit MenuCharLog(HWND h)
      : sub_(h, [this](HWND hh, UINT msg, WPARAM wp, LPARAM lp, LRESULT* r) {
          if (msg != WM_MENUCHAR) return false;
          const HMENU menu = reinterpret_cast<HMENU>(lp);
          int hi = -1;
          for (int i = 0; i < GetMenuItemCount(menu); ++i)
            if (ItemState(menu, i) & MFS_HILITE) hi = i;
          *r = DefSubclassProc(hh, msg, wp, lp);
          seen.push_back({*r, hi});
          return true;
        }) {}
  std::vector<MenuCharSeen> seen;

 private:
  TopSubclass sub_;
};

// This platform keeps the old text of an item that was turned owner-drawn and matches its
// mnemonic itself (Windows keeps no text for it). Emptying that text, as a text item, and
// turning it owner-drawn again leaves item data and slot as they were, and the key reaches
// the form as WM_MENUCHAR as it does on Windows.
void DropPlatformTexts(HMENU menu) {
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    const ULONG_PTR data = ItemData(menu, i);
    const UINT type = ItemType(menu, i);
    MENUITEMINFOW w{};
    w.cbSize = sizeof(w);
    w.fMask = MIIM_FTYPE;
    w.fType = MFT_STRING;
    SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &w);
    w.fMask = MIIM_STRING;
    w.dwTypeData = const_cast<LPWSTR>(L"");
    SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &w);
    w.fMask = MIIM_FTYPE;
    w.fType = type;
    SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &w);
    ASSERT_EQ(data, ItemData(menu, i));
    ASSERT_EQ(type, ItemType(menu, i));
  }
}

}  // namespace

TEST(MenuChar, OneMatchChoosesTheItemAndClosesTheMenu) {
  auto form = SampleForm();
  form->Show();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  DropPlatformTexts(file);
  for (wchar_t key : {L'o', L'O'}) {
    MenuCharLog log(form->hwnd());
    UINT cmd = RunPopup(form->hwnd(), file, [&](HWND h) { PressKey(h, key); });
    EXPECT_EQ(form->Control(L"mnuOpen")->CommandId(), cmd) << "key " << static_cast<char>(key);
    ASSERT_FALSE(log.seen.empty());
    EXPECT_EQ(glyphary::MakeLong(1, MNC_EXECUTE), log.seen[0].result);
  }
}

// Several matches: MNC_SELECT for the first match after the highlighted item, else the first.
// This platform does not move the highlight for MNC_SELECT, so the arrow key moves it
// between the presses; every answer is checked against the highlight of its moment.
TEST(MenuChar, SeveralMatchesSelectTheNextOneAfterTheHighlightedItem) {
  auto form = SampleForm();
  form->Show();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  DropPlatformTexts(GetSubMenu(form->MenuBar(), 1));
  MenuCharLog log(form->hwnd());
  UINT cmd = RunPopup(form->hwnd(), GetSubMenu(form->MenuBar(), 1), [](HWND h) {
    PressKey(h, L'c');
    PostMessageW(h, WM_KEYDOWN, VK_DOWN, 0);
    PressKey(h, L'C');
    PostMessageW(h, WM_KEYDOWN, VK_DOWN, 0);
    PressKey(h, L'c');
    PostMessageW(h, WM_KEYDOWN, VK_DOWN, 0);
    PressKey(h, L'c');
  });
  EXPECT_EQ(0u, cmd) << "selecting only highlights";
  ASSERT_EQ(4u, log.seen.size());
  std::set<int> highlights;
  for (const MenuCharSeen& e : log.seen) {
    // &Copy 0, &Cut 1, &Paste 2.
    const int expected = e.highlighted == 0 ? 1 : 0;
    EXPECT_EQ(glyphary::MakeLong(static_cast<int16_t>(expected), MNC_SELECT), e.result) << "highlighted " << e.highlighted;
    highlights.insert(e.highlighted);
  }
  EXPECT_EQ((std::set<int>{-1, 0, 1, 2}), highlights) << "nothing, Copy, Cut and Paste highlighted in turn";
}

TEST(MenuChar, WindowMenuPlainCaptionsTrailingAmpersandAndSeparatorsNeverMatch) {
  auto form = client::FormObject::Create(L"keys");
  auto* pop = form->AddPopup(nullptr, L"mnuPop", L"&Pop");
  const HMENU m = pop->SubMenu();
  form->AddItem(m, L"mnuPlain", L"Plain");
  form->AddItem(m, L"mnuEnds", L"Ends&");
  form->AddSeparator(m, L"mnuSep");
  form->AddItem(m, L"mnuZed", L"&Zed");
  AppendMenuA(m, MF_STRING, 900, "&Platform drawn");
  MENUITEMINFOW mii{};
  mii.cbSize = sizeof(mii);
  mii.fMask = MIIM_DATA;
  mii.dwItemData = 1;  // not ours: stays a text item
  SetMenuItemInfoW(m, 4, TRUE, &mii);
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HWND h = form->hwnd();
  const LPARAM menu = reinterpret_cast<LPARAM>(m);
  EXPECT_EQ(glyphary::MakeLong(3, MNC_EXECUTE), SendMessageW(h, WM_MENUCHAR, MAKEWPARAM('z', MF_POPUP), menu));
  EXPECT_EQ(0, SendMessageW(h, WM_MENUCHAR, MAKEWPARAM('z', MF_SYSMENU), menu)) << "the window menu";
  EXPECT_EQ(0, SendMessageW(h, WM_MENUCHAR, MAKEWPARAM('p', MF_POPUP), menu)) << "no & in Plain, P not ours";
  EXPECT_EQ(0, SendMessageW(h, WM_MENUCHAR, MAKEWPARAM('e', MF_POPUP), menu));
  EXPECT_EQ(0, SendMessageW(h, WM_MENUCHAR, MAKEWPARAM('&', MF_POPUP), menu));
  EXPECT_EQ(0, SendMessageW(h, WM_MENUCHAR, MAKEWPARAM(' ', MF_POPUP), menu));
  // Item data with the marker naming a slot outside the store (or one not in use) is not ours: the
  // item takes no letter and the others still answer.
  mii.dwItemData = 0x8C2D0400;
  mii.fMask = MIIM_DATA;
  SetMenuItemInfoW(m, 0, TRUE, &mii);
  LONG_PTR result = 55;
  EXPECT_EQ(S_OK, g->Message(WM_MENUCHAR, MAKEWPARAM('z', MF_POPUP), menu, &result));
  EXPECT_EQ(glyphary::MakeLong(3, MNC_EXECUTE), result);
  mii.dwItemData = 0x8C2D0000 | 300;
  SetMenuItemInfoW(m, 3, TRUE, &mii);
  EXPECT_EQ(S_OK, g->Message(WM_MENUCHAR, MAKEWPARAM('z', MF_POPUP), menu, &result));
  EXPECT_EQ(0, result) << "a slot the component does not have in use";
}

// "&&" is a literal ampersand: the first single "&" gives the letter.
TEST(MenuChar, DoubledAmpersandIsLiteralAndTheFirstSingleOneGivesTheLetter) {
  auto form = client::FormObject::Create(L"keys");
  auto* pop = form->AddPopup(nullptr, L"mnuPop", L"&Pop");
  const HMENU m = pop->SubMenu();
  form->AddItem(m, L"mnuExit", L"Save && E&xit");
  form->AddItem(m, L"mnuAnd", L"&&Literal only");
  form->AddItem(m, L"mnuTail", L"A&&&B");
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HWND h = form->hwnd();
  const LPARAM menu = reinterpret_cast<LPARAM>(m);
  EXPECT_EQ(glyphary::MakeLong(0, MNC_EXECUTE), SendMessageW(h, WM_MENUCHAR, MAKEWPARAM('x', MF_POPUP), menu));
  EXPECT_EQ(glyphary::MakeLong(2, MNC_EXECUTE), SendMessageW(h, WM_MENUCHAR, MAKEWPARAM('b', MF_POPUP), menu));
  EXPECT_EQ(0, SendMessageW(h, WM_MENUCHAR, MAKEWPARAM('&', MF_POPUP), menu)) << "no item has & as its letter";
  EXPECT_EQ(0, SendMessageW(h, WM_MENUCHAR, MAKEWPARAM('l', MF_POPUP), menu)) << "&&Literal has no letter";
}
