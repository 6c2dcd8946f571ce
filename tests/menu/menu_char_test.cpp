// Mnemonic keys on real open menus: the platform sends WM_MENUCHAR for the owner-drawn items
// and honours what the component answers.
#include <gtest/gtest.h>

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

}  // namespace

TEST(MenuChar, OneMatchChoosesTheItemAndClosesTheMenu) {
  auto form = SampleForm();
  form->Show();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  for (wchar_t key : {L'o', L'O'}) {
    MenuCharLog log(form->hwnd());
    UINT cmd = RunPopup(form->hwnd(), file, [&](HWND h) { PressKey(h, key); });
    EXPECT_EQ(form->Control(L"mnuOpen")->CommandId(), cmd) << "key " << static_cast<char>(key);
    ASSERT_FALSE(log.seen.empty());
    EXPECT_EQ(glyphary::MakeLong(1, MNC_EXECUTE), log.seen[0].result);
  }
}

TEST(MenuChar, SeveralMatchesSelectTheNextOneAfterTheHighlightedItem) {
  auto form = SampleForm();
  form->Show();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  MenuCharLog log(form->hwnd());
  UINT cmd = RunPopup(form->hwnd(), GetSubMenu(form->MenuBar(), 1), [](HWND h) {
    PressKey(h, L'c');
    PressKey(h, L'C');
    PressKey(h, L'c');
  });
  EXPECT_EQ(0u, cmd) << "selecting only highlights";
  ASSERT_EQ(3u, log.seen.size());
  EXPECT_EQ(glyphary::MakeLong(0, MNC_SELECT), log.seen[0].result);
  EXPECT_EQ(-1, log.seen[0].highlighted);
  EXPECT_EQ(glyphary::MakeLong(1, MNC_SELECT), log.seen[1].result);
  EXPECT_EQ(0, log.seen[1].highlighted) << "the platform highlighted what was selected";
  EXPECT_EQ(glyphary::MakeLong(0, MNC_SELECT), log.seen[2].result) << "back to the first after the last match";
  EXPECT_EQ(1, log.seen[2].highlighted);
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
  // A slot outside the store fails inside the message; the form gets no answer.
  mii.dwItemData = 0x8C2D0400;
  mii.fMask = MIIM_DATA;
  SetMenuItemInfoW(m, 0, TRUE, &mii);
  LONG_PTR result = 55;
  EXPECT_EQ(static_cast<HRESULT>(0x800A0009), g->Message(WM_MENUCHAR, MAKEWPARAM('z', MF_POPUP), menu, &result));
  EXPECT_EQ(55, result) << "result keeps what it held";
}
