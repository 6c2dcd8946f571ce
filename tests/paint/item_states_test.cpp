// The item states people use, painted at 96, 144 and 192 DPI with flat menus off and on: check
// marks and radio bullets that scale and stay visible under the selection, bold default items,
// the selection on a grayed item, hot and inactive bar items, menus with their own background,
// right-to-left items, the application's own item bitmaps and column dividers.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "canvas.h"
#include "dpi_scale.h"
#include "item_paint.h"

using paint_tests::Brightness;
using paint_tests::Canvas;
using paint_tests::kUntouched;
using paint_tests::MenuBench;

namespace {

constexpr COLORREF kBlue = RGB(0, 0, 255);

struct Look {
  uint32_t dpi;
  bool flat;
};

void PrintTo(const Look& look, std::ostream* os) { *os << look.dpi << " DPI, " << (look.flat ? "flat" : "classic"); }

std::string Name(const ::testing::TestParamInfo<Look>& info) {
  return std::to_string(info.param.dpi) + (info.param.flat ? "Flat" : "Classic");
}

class ItemStates : public ::testing::TestWithParam<Look> {
 protected:
  void SetUp() override {
    bench_.context.dpi = GetParam().dpi;
    bench_.context.flat_menus = GetParam().flat;
    cell_ = glyphary::ScalePixels(16, GetParam().dpi);
    bench_.context.cell_width = cell_;
    bench_.context.cell_height = cell_;
    height_ = cell_ + 4;
  }
  int S(int pixels) const { return glyphary::ScalePixels(pixels, GetParam().dpi); }
  RECT Item() const { return RECT{0, 0, width_, height_}; }
  RECT Cell() const { return RECT{0, 0, cell_, height_}; }
  RECT TextArea() const { return RECT{cell_ + 4, 0, width_ - cell_, height_}; }
  static bool Is(COLORREF a, COLORREF b) { return a == b; }
  int Count(const Canvas& c, const RECT& r, COLORREF color) const {
    return c.CountIf(r, [color](COLORREF p) { return p == color; });
  }

  paint_tests::DistinctMenuColors colors_;
  MenuBench bench_;
  int cell_ = 16;
  int height_ = 20;
  int width_ = 240;
};

// A checked item without a picture under the selection: the mark stays visible in the menu text
// colour whatever text colour the platform left in the context, and it grows with the DPI.
TEST_P(ItemStates, CheckMarkIsVisibleWhenSelectedAndScalesWithTheDpi) {
  const int slot = bench_.Add(L"&Checked", -1);
  for (UINT state : {UINT(ODS_CHECKED), UINT(ODS_CHECKED | ODS_SELECTED)}) {
    Canvas canvas(width_, height_);
    paint_tests::PlainFont font(canvas.dc());
    SetTextColor(canvas.dc(), GetSysColor(COLOR_HIGHLIGHTTEXT));  // as the platform leaves it for a selected item
    ASSERT_EQ(1, bench_.Paint(slot, canvas.dc(), Item(), state));
    const RECT mark = canvas.BoundsOf(Cell(), GetSysColor(COLOR_MENUTEXT));
    EXPECT_GT(mark.right - mark.left, S(5)) << "state " << state;
    EXPECT_GT(mark.bottom - mark.top, S(4)) << "state " << state;
    EXPECT_LE(mark.right, cell_);
  }
}

// MFT_RADIOCHECK: a round bullet (the same read left to right and right to left), not the check.
TEST_P(ItemStates, RadioItemShowsABulletNotACheck) {
  const int check = bench_.Add(L"Check", -1);
  const int radio = bench_.Add(L"Radio", -1);
  bench_.record(radio).ItemType |= MFT_RADIOCHECK;
  Canvas a(width_, height_), b(width_, height_);
  ASSERT_EQ(1, bench_.Paint(check, a.dc(), Item(), ODS_CHECKED));
  ASSERT_EQ(1, bench_.Paint(radio, b.dc(), Item(), ODS_CHECKED));
  const COLORREF ink = GetSysColor(COLOR_MENUTEXT);
  const RECT bullet = b.BoundsOf(Cell(), ink);
  ASSERT_GT(bullet.right, bullet.left) << "a bullet is drawn";
  int mirrored_differences = 0;
  for (int y = bullet.top; y < bullet.bottom; ++y)
    for (int x = bullet.left; x < bullet.right; ++x)
      if ((b.At(x, y) == ink) != (b.At(bullet.right - 1 - (x - bullet.left), y) == ink)) ++mirrored_differences;
  EXPECT_EQ(0, mirrored_differences) << "a bullet is symmetric";
  EXPECT_LT(Count(b, Cell(), ink), Count(a, Cell(), ink) * 3) << "and about as heavy as a check";
}

// The default item of a menu is drawn bold.
TEST_P(ItemStates, DefaultItemIsBold) {
  const int slot = bench_.Add(L"Default item", -1);
  Canvas plain(width_, height_), bold(width_, height_);
  paint_tests::PlainFont f1(plain.dc()), f2(bold.dc());
  bench_.Paint(slot, plain.dc(), Item(), 0);
  bench_.Paint(slot, bold.dc(), Item(), ODS_DEFAULT);
  const COLORREF ink = GetSysColor(COLOR_MENUTEXT);
  EXPECT_GT(Count(bold, TextArea(), ink), Count(plain, TextArea(), ink) * 11 / 10);
}

// A grayed item under the keyboard selection shows the selection (the user must see where it is),
// in grey text.
TEST_P(ItemStates, GrayedItemUnderTheSelectionShowsTheSelection) {
  const int slot = bench_.Add(L"Grayed", -1);
  Canvas canvas(width_, height_);
  paint_tests::PlainFont font(canvas.dc());
  bench_.Paint(slot, canvas.dc(), Item(), ODS_SELECTED | ODS_GRAYED);
  const COLORREF bar = GetSysColor(GetParam().flat ? COLOR_MENUHILIGHT : COLOR_HIGHLIGHT);
  EXPECT_GT(Count(canvas, Item(), bar), width_ * height_ / 2);
  EXPECT_GT(Count(canvas, TextArea(), GetSysColor(COLOR_GRAYTEXT)), 0) << "grey text";
}

// Bar items: hot-tracked ones get feedback, those of an inactive window are drawn grey.
TEST_P(ItemStates, HotAndInactiveBarItems) {
  const int slot = bench_.Add(L"&File", -1, true);
  Canvas plain(60, height_), hot(60, height_), inactive(60, height_);
  paint_tests::PlainFont f1(plain.dc()), f2(hot.dc()), f3(inactive.dc());
  const RECT item{0, 0, 60, height_};
  bench_.Paint(slot, plain.dc(), item, 0);
  bench_.Paint(slot, hot.dc(), item, ODS_HOTLIGHT);
  bench_.Paint(slot, inactive.dc(), item, ODS_INACTIVE);
  int changed = 0;
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < 60; ++x) changed += plain.At(x, y) != hot.At(x, y);
  EXPECT_GT(changed, 40) << "a hot item looks different";
  EXPECT_EQ(0, Count(inactive, item, GetSysColor(COLOR_MENUTEXT)));
  EXPECT_GT(Count(inactive, item, GetSysColor(COLOR_GRAYTEXT)), 0);
}

// A menu with a background of its own (a dark menu): the selection leaves it in that brush, and
// the text is readable on it.
TEST_P(ItemStates, MenuBackgroundBrushIsUsedAndTextIsReadable) {
  const int slot = bench_.Add(L"Dark", -1);
  HBRUSH dark = CreateSolidBrush(RGB(20, 20, 20));
  MENUINFO mi{};
  mi.cbSize = sizeof mi;
  mi.fMask = MIM_BACKGROUND;
  mi.hbrBack = dark;
  ASSERT_TRUE(SetMenuInfo(bench_.menu(), &mi));
  Canvas canvas(width_, height_);
  paint_tests::PlainFont font(canvas.dc());
  bench_.Paint(slot, canvas.dc(), Item(), 0, ODA_SELECT);
  EXPECT_EQ(0, Count(canvas, Item(), GetSysColor(COLOR_MENU))) << "no COLOR_MENU bar on a dark menu";
  EXPECT_GT(Count(canvas, Item(), RGB(20, 20, 20)), width_ * height_ / 2);
  const int light = canvas.CountIf(TextArea(), [](COLORREF p) { return Brightness(p) > 160; });
  EXPECT_GT(light, 10) << "light text on the dark background";
  mi.hbrBack = nullptr;
  SetMenuInfo(bench_.menu(), &mi);
  DeleteObject(dark);
}

// MFT_RIGHTORDER: the picture cell at the right, the caption against it.
TEST_P(ItemStates, RightToLeftItemHasItsCellAtTheRight) {
  const int slot = bench_.Add(L"Right to left", -1);
  bench_.record(slot).ItemType |= MFT_RIGHTORDER;
  Canvas canvas(width_, height_);
  paint_tests::PlainFont font(canvas.dc());
  bench_.Paint(slot, canvas.dc(), Item(), ODS_CHECKED);
  const RECT mark = canvas.BoundsOf(Item(), GetSysColor(COLOR_MENUTEXT));
  EXPECT_GE(mark.left, width_ / 2) << "check mark and text in the right half";
  EXPECT_GE(mark.right, width_ - cell_) << "the mark in the cell at the right edge";
}

// The application's own item bitmap (hbmpItem) shows in the cell; a column break gets a divider.
TEST_P(ItemStates, ApplicationBitmapAndColumnDivider) {
  const int slot = bench_.Add(L"With bitmap", -1);
  HDC screen = GetDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 12, 12);
  ReleaseDC(nullptr, screen);
  {
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, bmp);
    HBRUSH blue = CreateSolidBrush(kBlue);
    RECT r{0, 0, 12, 12};
    FillRect(mem, &r, blue);
    DeleteObject(blue);
    SelectObject(mem, old);
    DeleteDC(mem);
  }
  MENUITEMINFOW mii{};
  mii.cbSize = sizeof mii;
  mii.fMask = MIIM_BITMAP;
  mii.hbmpItem = bmp;
  ASSERT_TRUE(SetMenuItemInfoW(bench_.menu(), bench_.IdOf(slot), FALSE, &mii));
  Canvas canvas(width_, height_);
  bench_.Paint(slot, canvas.dc(), Item(), 0);
  EXPECT_GT(Count(canvas, Cell(), kBlue), 60) << "the bitmap in the cell";

  const int column = bench_.Add(L"New column", -1);
  bench_.record(column).ItemType |= MFT_MENUBARBREAK;
  Canvas second(width_, height_);
  bench_.Paint(column, second.dc(), Item(), 0);
  EXPECT_GE(Count(second, RECT{0, 0, S(2), height_}, GetSysColor(COLOR_BTNSHADOW)), height_ - 1)
      << "a divider along the column's edge";
  DeleteObject(bmp);
}

INSTANTIATE_TEST_SUITE_P(Dpi, ItemStates,
                         ::testing::Values(Look{96, false}, Look{96, true}, Look{144, false}, Look{144, true},
                                           Look{192, false}, Look{192, true}),
                         Name);

}  // namespace
