// Item measuring: the arithmetic, and the platform's own WM_MEASUREITEM of a real popup
// reaching a component of the registered DLL.
#include <gtest/gtest.h>

#include <cfenv>
#include <map>

#include "item_measure.h"
#include "menu_fixture.h"
#include "runtime_error.h"

using common::com_ptr;
using namespace menu_test;

namespace {

// What a text measures in the menu font, the way the component measures it.
RECT TextRect(const std::string& text) {
  NONCLIENTMETRICSA ncm{};
  ncm.cbSize = 340;
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 340, &ncm, 0);
  HFONT font = CreateFontIndirectA(&ncm.lfMenuFont);
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r{0, 0, 0, 0};
  DrawTextA(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE | DT_VCENTER);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  return r;
}

int Height(int text_height, int cell) { return std::max({GetSystemMetrics(SM_CYMENU), text_height, cell}); }

}  // namespace

TEST(MeasureArithmetic, RoundingSeparatorsWidthsAndHeights) {
  EXPECT_EQ(10, glyphary::RoundHalfEven(9.5));
  EXPECT_EQ(10, glyphary::RoundHalfEven(10.5));
  EXPECT_EQ(25, glyphary::RoundHalfEven(24.8));
  EXPECT_EQ(-2, glyphary::RoundHalfEven(-2.5));
  // Separators for menu bars 18, 19 and 21 high.
  EXPECT_EQ(10, glyphary::SeparatorSize(18).width);
  EXPECT_EQ(9, glyphary::SeparatorSize(18).height);
  EXPECT_EQ(10, glyphary::SeparatorSize(19).height);
  EXPECT_EQ(10, glyphary::SeparatorSize(21).height);
  // Popup items: cell 16 adds 25 (24.8), cell 22 adds 33 (32.6); the text's left edge counts.
  EXPECT_EQ(125, glyphary::PopupItemWidth(16, 0, 100));
  EXPECT_EQ(133, glyphary::PopupItemWidth(22, 0, 100));
  EXPECT_EQ(130, glyphary::PopupItemWidth(22, 3, 100));
  // Menu-bar items: nine tenths.
  EXPECT_EQ(36, glyphary::BarItemWidth(40));
  EXPECT_EQ(28, glyphary::BarItemWidth(31));
  EXPECT_EQ(38, glyphary::ItemHeight(19, 13, 38));
  EXPECT_EQ(19, glyphary::ItemHeight(19, 13, 16));
  EXPECT_EQ(24, glyphary::ItemHeight(19, 24, 16));
  try {
    glyphary::PopupItemWidth(16, -2147483647 - 1, 2147483647);
    ADD_FAILURE() << "no overflow";
  } catch (const common::RuntimeError& e) {
    EXPECT_EQ(6, e.number());
  }
}

// A registered component attached to a real form; the popup opened with TrackPopupMenu. The
// platform's own WM_MEASUREITEM reaches the component, and the sizes it answers are read
// above it on the way back.
TEST(MeasureRegistered, PlatformMeasuresTheItemsOfAnOpenPopupThroughTheComponent) {
  auto form = SampleForm();
  form->Show();
  auto g = CreateRegistered();
  ASSERT_TRUE(g);
  ASSERT_EQ(S_OK, SetImageList(g.get(), FakeImageList(16, 16).get()));
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  std::map<UINT, std::pair<UINT, UINT>> measured;  // command id -> size, for File's items
  int separators = 0;
  std::pair<UINT, UINT> separator{};
  TopSubclass above(form->hwnd(), [&](HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT* r) {
    if (msg != WM_MEASUREITEM) return false;
    *r = DefSubclassProc(h, msg, wp, lp);
    auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
    EXPECT_EQ(1, *r) << "item " << mis->itemID << " data 0x" << std::hex << mis->itemData;
    if (mis->itemData == ItemData(file, 2)) {
      ++separators;
      separator = {mis->itemWidth, mis->itemHeight};
    } else if (GetMenuState(file, mis->itemID, MF_BYCOMMAND) != static_cast<UINT>(-1)) {
      measured[mis->itemID] = {mis->itemWidth, mis->itemHeight};
    }
    return true;
  });
  RunPopup(form->hwnd(), file);
  ASSERT_EQ(3u, measured.size()) << "three text items measured by the component";
  const RECT n = TextRect("&Newm");
  EXPECT_EQ(static_cast<UINT>(n.right - n.left + 33), measured[form->Control(L"mnuNew")->CommandId()].first);
  EXPECT_EQ(static_cast<UINT>(Height(n.bottom - n.top, 22)), measured[form->Control(L"mnuNew")->CommandId()].second);
  // With a shortcut: the whole caption plus "m", and the shortcut once more by itself.
  const RECT o = TextRect("&Open...\tCtrl+Om");
  const RECT s = TextRect("Ctrl+O");
  EXPECT_EQ(static_cast<UINT>(o.right + s.right - o.left + 33), measured[form->Control(L"mnuOpen")->CommandId()].first);
  EXPECT_EQ(1, separators);
  const int cy = GetSystemMetrics(SM_CYMENU);
  EXPECT_EQ(10u, separator.first);
  EXPECT_EQ(static_cast<UINT>(glyphary::RoundHalfEven(cy / 2.0)), separator.second);
}

TEST(MeasureMenuItem, CommandIdOnceBarItemsForeignItemsAndCell16) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  const ULONG_PTR new_data = ItemData(file, 0);
  MEASUREITEMSTRUCT mis{ODT_MENU, 0, 4711, 0, 0, new_data};
  EXPECT_EQ(1, SendMessageW(form->hwnd(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis)));
  const int32_t slot = glyphary::ItemSlot(static_cast<uint32_t>(new_data));
  EXPECT_EQ(4711, g->ItemAt(slot).CommandId);
  const RECT n = TextRect("&Newm");
  EXPECT_EQ(static_cast<UINT>(n.right - n.left + 25), mis.itemWidth) << "no image list: cell 16";
  EXPECT_EQ(static_cast<UINT>(Height(n.bottom - n.top, 16)), mis.itemHeight);
  mis.itemID = 815;
  SendMessageW(form->hwnd(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis));
  EXPECT_EQ(4711, g->ItemAt(slot).CommandId) << "filled once";

  MEASUREITEMSTRUCT bar{ODT_MENU, 0, 1, 0, 0, ItemData(form->MenuBar(), 0)};
  EXPECT_EQ(1, SendMessageW(form->hwnd(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&bar)));
  const RECT f = TextRect("&File");
  EXPECT_EQ(static_cast<UINT>(glyphary::RoundHalfEven((f.right - f.left) * 0.9)), bar.itemWidth);

  MEASUREITEMSTRUCT foreign{ODT_MENU, 0, 1, 3, 4, 0x12345678};
  LONG_PTR result = 0;
  EXPECT_EQ(S_OK, g->Message(WM_MEASUREITEM, 0, reinterpret_cast<LONG_PTR>(&foreign), &result));
  EXPECT_EQ(0, result);
  EXPECT_EQ(3u, foreign.itemWidth) << "left untouched";
  MEASUREITEMSTRUCT listbox{ODT_LISTBOX, 0, 1, 3, 4, new_data};
  EXPECT_EQ(S_OK, g->Message(WM_MEASUREITEM, 0, reinterpret_cast<LONG_PTR>(&listbox), &result));
  EXPECT_EQ(0, result);
  // The marker with a slot outside the store, or one the component does not have in use: not ours.
  for (ULONG_PTR data : {ULONG_PTR{0x8C2DFFFF}, ULONG_PTR{0x8C2D0000 | 400}}) {
    MEASUREITEMSTRUCT outside{ODT_MENU, 0, 1, 3, 4, data};
    result = 9;
    EXPECT_EQ(S_OK, g->Message(WM_MEASUREITEM, 0, reinterpret_cast<LONG_PTR>(&outside), &result));
    EXPECT_EQ(0, result);
    EXPECT_EQ(3u, outside.itemWidth) << "left untouched";
  }
}

// The sizes do not depend on the floating-point rounding mode the client's thread is in:
// 5 x 0.9 is 4.5 (to 4) only when the product itself is rounded to nearest.
TEST(MeasureRounding, SizesIndependentOfTheRoundingMode) {
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    const int before = std::fegetround();
    std::fesetround(mode);
    const int32_t bar5 = glyphary::BarItemWidth(5);
    const int32_t bar15 = glyphary::BarItemWidth(15);
    const int32_t popup = glyphary::PopupItemWidth(22, 0, 40);
    const int32_t half = glyphary::RoundHalfEven(10.5);
    const int32_t sep = glyphary::SeparatorSize(19).height;
    std::fesetround(before);
    EXPECT_EQ(4, bar5) << "mode " << mode;
    EXPECT_EQ(14, bar15) << "mode " << mode;  // 13.5 to 14
    EXPECT_EQ(glyphary::PopupItemWidth(22, 0, 40), popup) << "mode " << mode;
    EXPECT_EQ(10, half) << "mode " << mode;
    EXPECT_EQ(10, sep) << "mode " << mode;  // 9.5 to 10
    EXPECT_EQ(before, std::fegetround());
  }
}
