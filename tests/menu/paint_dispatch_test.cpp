// WM_DRAWITEM reaches the painter through the component: from the platform's own open popup
// (registered DLL) and as a message sent with a memory device context.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "menu_fixture.h"
#include "recording_window.h"
#include "unique_handles.h"

using common::com_ptr;
using namespace menu_test;

TEST(PaintDispatch, PlatformPaintsTheItemsOfAnOpenPopupThroughTheComponent) {
  auto form = SampleForm();
  form->Show();
  auto g = CreateRegistered();
  ASSERT_TRUE(g);
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  std::set<UINT> painted;  // positions whose WM_DRAWITEM the component answered with 1
  int other_answers = 0;
  TopSubclass above(form->hwnd(), [&](HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT* r) {
    if (msg != WM_DRAWITEM) return false;
    *r = DefSubclassProc(h, msg, wp, lp);
    const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
    if (!glyphary::SameMenu(reinterpret_cast<HMENU>(dis->hwndItem), file)) return true;
    for (int i = 0; i < GetMenuItemCount(file); ++i) {
      if (ItemData(file, i) == dis->itemData) {
        if (*r == 1) painted.insert(static_cast<UINT>(i));
        else ++other_answers;
      }
    }
    return true;
  });
  RunPopup(form->hwnd(), file);
  EXPECT_EQ((std::set<UINT>{0, 1, 2, 3}), painted) << "every item of the open popup, the separator too";
  EXPECT_EQ(0, other_answers);
}

// A menu whose handle has bit 31 set (handles get there in a long-running program) reaches a
// 64-bit process sign-extended in WM_INITMENUPOPUP and WM_DRAWITEM and zero-extended from
// GetSubMenu: it is still the bar's first popup, walked, measured and painted, and the
// application's own handler sees its item added there prepared too.
TEST(PaintDispatch, AMenuWhoseHandleHasBit31SetIsStillTheSameMenu) {
  auto form = client::FormObject::Create(L"Sample form");
  ASSERT_TRUE(AgeNextMenuHandle()) << "no menu handle with bit 31 set came";
  auto* file = form->AddPopup(nullptr, L"mnuFile", L"&File");
  const HMENU popup = file->SubMenu();
  ASSERT_NE(0u, reinterpret_cast<UINT_PTR>(popup) & 0x80000000u) << popup;
  form->AddItem(popup, L"mnuNew", L"&New");
  form->AddSeparator(popup, L"mnuSep1");
  form->AddItem(popup, L"mnuSave", L"&Save");
  form->AddPopup(nullptr, L"mnuEdit", L"&Edit");
  form->Show();
  auto g = CreateRegistered();
  ASSERT_TRUE(g);
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  std::set<int> painted;
  std::wostringstream not_ours;
  int inits = 0;
  TopSubclass above(form->hwnd(), [&](HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT* r) {
    if (msg == WM_INITMENUPOPUP && glyphary::SameMenu(reinterpret_cast<HMENU>(wp), popup) && !inits++)
      AppendMenuW(popup, MF_STRING, 900, L"&Added");  // the application's own handler, below ours
    if (msg != WM_DRAWITEM && msg != WM_MEASUREITEM) return false;
    *r = DefSubclassProc(h, msg, wp, lp);
    const UINT id = msg == WM_DRAWITEM ? reinterpret_cast<const DRAWITEMSTRUCT*>(lp)->itemID
                                       : reinterpret_cast<const MEASUREITEMSTRUCT*>(lp)->itemID;
    if (*r != 1) not_ours << L" " << (msg == WM_DRAWITEM ? L"draw " : L"measure ") << id;
    if (msg == WM_DRAWITEM && glyphary::SameMenu(reinterpret_cast<HMENU>(reinterpret_cast<const DRAWITEMSTRUCT*>(lp)->hwndItem), popup))
      for (int i = 0; i < GetMenuItemCount(popup); ++i)
        if (ItemData(popup, i) == reinterpret_cast<const DRAWITEMSTRUCT*>(lp)->itemData) painted.insert(i);
    return true;
  });
  // Opened as a popup of the bar: position 0 of the bar's first popup.
  SendMessageW(form->hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), 0);
  EXPECT_NE(0u, ItemType(popup, 3) & MFT_OWNERDRAW) << "the item the application added when the popup opened";
  RunPopup(form->hwnd(), popup);
  EXPECT_EQ((std::set<int>{0, 1, 2, 3}), painted) << "every item, the separator and the added item too";
  EXPECT_EQ(L"", not_ours.str()) << "answered 0";
}

TEST(PaintDispatch, OwnItemIsPaintedAndNotPassedOn) {
  RecordedWindows rec;
  auto form = SampleForm();
  // Installed before the component: it stands for the form's previous procedure.
  bool previous_ran = false;
  TopSubclass below(form->hwnd(), [&](HWND, UINT msg, WPARAM, LPARAM, LRESULT* r) {
    if (msg != WM_DRAWITEM) return false;
    previous_ran = true;
    *r = 0x77;
    return true;
  });
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  common::unique_hdc dc(CreateCompatibleDC(nullptr));
  common::unique_hdc_window screen(nullptr);
  common::unique_hbitmap bmp(CreateCompatibleBitmap(screen.get(), 200, 24));
  common::unique_select_object keep(dc.get(), bmp.get());
  RECT all{0, 0, 200, 24};
  const COLORREF background = RGB(1, 2, 3);
  common::unique_hbrush brush(CreateSolidBrush(background));
  FillRect(dc.get(), &all, brush.get());
  DRAWITEMSTRUCT dis{};
  dis.CtlType = ODT_MENU;
  dis.itemID = form->Control(L"mnuNew")->CommandId();
  dis.itemAction = ODA_DRAWENTIRE;
  dis.hwndItem = reinterpret_cast<HWND>(file);
  dis.hDC = dc.get();
  dis.rcItem = all;
  dis.itemData = ItemData(file, 0);
  const size_t mark = rec.log.size();
  EXPECT_EQ(1, SendMessageW(form->hwnd(), WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&dis)));
  EXPECT_EQ(std::vector<std::wstring>{L"Message 2B -> 1"}, std::vector<std::wstring>(rec.log.begin() + mark, rec.log.end()));
  int changed = 0;
  for (int x = 0; x < 200; ++x)
    for (int y = 0; y < 24; ++y) changed += GetPixel(dc.get(), x, y) != background;
  EXPECT_GT(changed, 10) << "the caption was drawn";
  EXPECT_FALSE(previous_ran) << "a painted item is not passed on";
}

// This platform never sets ODS_DEFAULT for an owner-drawn item: the default item is known from
// the item itself, painted bold and measured bold (wider than the same item not default).
TEST(PaintDispatch, TheDefaultItemIsPaintedAndMeasuredBoldFromItsOwnState) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  const UINT id = form->Control(L"mnuOpen")->CommandId();
  struct Seen {
    int ink = 0;
    UINT width = 0;
  };
  auto look = [&]() {
    Seen seen;
    common::unique_hdc dc(CreateCompatibleDC(nullptr));
    common::unique_hdc_window screen(nullptr);
    common::unique_hbitmap bmp(CreateCompatibleBitmap(screen.get(), 240, 24));
    common::unique_select_object keep(dc.get(), bmp.get());
    // The platform lends a context with the menu font in it.
    common::unique_select_object font(dc.get(), g->MenuFont());
    RECT all{0, 0, 240, 24};
    FillRect(dc.get(), &all, GetSysColorBrush(COLOR_MENU));
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_MENU;
    dis.itemID = id;
    dis.itemAction = ODA_DRAWENTIRE;  // no ODS_DEFAULT, as the platform sends it
    dis.hwndItem = reinterpret_cast<HWND>(file);
    dis.hDC = dc.get();
    dis.rcItem = all;
    dis.itemData = ItemData(file, 1);
    EXPECT_EQ(1, SendMessageW(form->hwnd(), WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&dis)));
    const COLORREF background = GetPixel(dc.get(), 239, 0);
    for (int x = 0; x < 240; ++x)
      for (int y = 0; y < 24; ++y) seen.ink += GetPixel(dc.get(), x, y) != background;
    MEASUREITEMSTRUCT mis{};
    mis.CtlType = ODT_MENU;
    mis.itemID = id;
    mis.itemData = ItemData(file, 1);
    EXPECT_EQ(1, SendMessageW(form->hwnd(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis)));
    seen.width = mis.itemWidth;
    return seen;
  };
  const Seen plain = look();
  ASSERT_TRUE(SetMenuDefaultItem(file, 1, TRUE));
  const Seen bold = look();
  EXPECT_GT(bold.ink, plain.ink + plain.ink / 10) << "the default item's caption is bold";
  EXPECT_GT(bold.width, plain.width) << "the default item is measured with the bold font";
}
