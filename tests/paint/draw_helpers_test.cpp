#include <gtest/gtest.h>

#include <climits>

#include "canvas.h"
#include "draw_helpers.h"
#include "gdi_counter.h"
#include "runtime_error.h"

using glyphary::DrawHelpers::DrawCheckBitmap;
using glyphary::DrawHelpers::FillColorRect;
using paint_tests::Brightness;
using paint_tests::Canvas;
using paint_tests::kUntouched;
using testing_support::GdiCounter;
using testing_support::GdiKind;

namespace {

constexpr COLORREF kInk = RGB(200, 0, 0);

class DrawHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override { GdiCounter::Install(GetModuleHandleW(nullptr)); }
  paint_tests::DistinctMenuColors colors_;
};

TEST_F(DrawHelpersTest, FillColorRectCoversLeftToRightMinusOneAndTopToBottomMinusOne) {
  Canvas canvas(20, 20);
  HBRUSH mine = CreateSolidBrush(RGB(9, 9, 9));
  HGDIOBJ before = SelectObject(canvas.dc(), mine);
  const long live = GdiCounter::Live();
  const long brushes = GdiCounter::Created(GdiKind::Brush);

  FillColorRect(canvas.dc(), RECT{3, 4, 10, 12}, RGB(0, 200, 0));

  EXPECT_TRUE(canvas.All(RECT{3, 4, 10, 12}, RGB(0, 200, 0)));
  EXPECT_EQ(7 * 8, canvas.CountIf(RECT{0, 0, 20, 20}, [](COLORREF c) { return c != kUntouched; }));
  EXPECT_EQ(mine, GetCurrentObject(canvas.dc(), OBJ_BRUSH)) << "the caller's brush is put back";
  EXPECT_EQ(brushes + 1, GdiCounter::Created(GdiKind::Brush));
  EXPECT_EQ(live, GdiCounter::Live()) << "the brush made for the fill is deleted";

  // An empty or inverted rectangle paints nothing.
  Canvas empty(20, 20);
  FillColorRect(empty.dc(), RECT{5, 5, 5, 9}, RGB(0, 200, 0));
  FillColorRect(empty.dc(), RECT{5, 5, 9, 5}, RGB(0, 200, 0));
  EXPECT_TRUE(empty.All(RECT{0, 0, 20, 20}, kUntouched));

  SelectObject(canvas.dc(), before);
  DeleteObject(mine);
}

TEST_F(DrawHelpersTest, FillColorRectRaisesOverflowForAWidthOutOfRange) {
  Canvas canvas(4, 4);
  const long live = GdiCounter::Live();
  try {
    FillColorRect(canvas.dc(), RECT{INT_MIN, 0, INT_MAX, 2}, RGB(0, 0, 0));
    FAIL() << "no error raised";
  } catch (const common::RuntimeError& e) {
    EXPECT_EQ(common::errOverflow, e.number());
  }
  EXPECT_EQ(live, GdiCounter::Live());
}

// A 13 x 13 mark whose first and last pixels are black: where they land shows where the bitmap went.
struct MarkCase {
  int cell;
  int offset;
};

class CheckMarkPlacement : public DrawHelpersTest, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(CheckMarkPlacement, ThirteenPixelMarkIsCentredRoundingHalvesToEven) {
  const MarkCase c = GetParam();
  HBITMAP mark = paint_tests::MakeMonoBitmap(13, 13, {{0, 0}, {12, 12}});
  Canvas canvas(40, 40);
  SetTextColor(canvas.dc(), kInk);
  const COLORREF bk_before = SetBkColor(canvas.dc(), RGB(7, 7, 7));
  const RECT cell{5, 7, 5 + c.cell, 7 + c.cell};

  EXPECT_TRUE(DrawCheckBitmap(canvas.dc(), cell, false, mark));

  const int x0 = cell.left + c.offset, y0 = cell.top + c.offset;
  EXPECT_EQ(kInk, canvas.At(x0, y0));
  EXPECT_EQ(kInk, canvas.At(x0 + 12, y0 + 12));
  EXPECT_EQ(GetSysColor(COLOR_3DLIGHT), canvas.At(x0 + 1, y0)) << "white pixels take COLOR_3DLIGHT";
  EXPECT_EQ(GetSysColor(COLOR_3DLIGHT), canvas.At(x0 + 12, y0));
  // Only the mark and the frame are drawn: 13 x 13 plus the cell's one-pixel border.
  const int border = 4 * (c.cell - 1);
  EXPECT_EQ(13 * 13 + border, canvas.CountIf(RECT{0, 0, 40, 40}, [](COLORREF p) { return p != kUntouched; }));
  // Sunken frame round the whole cell: dark top-left, light bottom-right.
  EXPECT_LT(Brightness(canvas.At(cell.left, cell.top + 3)), Brightness(canvas.At(cell.right - 1, cell.top + 3)));
  EXPECT_LT(Brightness(canvas.At(cell.left + 3, cell.top)), Brightness(canvas.At(cell.left + 3, cell.bottom - 1)));
  EXPECT_EQ(kUntouched, canvas.At(cell.right, cell.bottom));
  EXPECT_EQ(RGB(7, 7, 7), GetBkColor(canvas.dc())) << "the background colour is put back";

  SetBkColor(canvas.dc(), bk_before);
  DeleteObject(mark);
}

INSTANTIATE_TEST_SUITE_P(Cells, CheckMarkPlacement, ::testing::Values(MarkCase{16, 2}, MarkCase{22, 4}, MarkCase{15, 1}));

TEST_F(DrawHelpersTest, SelectedMarkTakesTheMenuColour) {
  HBITMAP mark = paint_tests::MakeMonoBitmap(13, 13, {{6, 6}});
  Canvas canvas(30, 30);
  SetTextColor(canvas.dc(), kInk);
  DrawCheckBitmap(canvas.dc(), RECT{0, 0, 16, 16}, true, mark);
  EXPECT_EQ(kInk, canvas.At(8, 8));
  EXPECT_EQ(GetSysColor(COLOR_MENU), canvas.At(3, 3));
  DeleteObject(mark);
}

TEST_F(DrawHelpersTest, BitmapAsWideAsTheCellOrWiderFillsTheCellFromItsCentre) {
  // 20 x 20 in a 16 cell: the whole cell is the destination, read from (-2, -2) of the bitmap, so
  // bitmap pixel (5, 5) lands on cell pixel (7, 7).
  HBITMAP wide = paint_tests::MakeMonoBitmap(20, 20, {{5, 5}});
  Canvas canvas(30, 30);
  SetTextColor(canvas.dc(), kInk);
  DrawCheckBitmap(canvas.dc(), RECT{4, 4, 20, 20}, false, wide);
  EXPECT_EQ(kInk, canvas.At(4 + 7, 4 + 7));
  EXPECT_EQ(1, canvas.CountIf(RECT{0, 0, 30, 30}, [](COLORREF p) { return p == kInk; }));
  DeleteObject(wide);

  // Exactly as wide (16) but shorter (12): still the whole cell, read from (0, 2).
  HBITMAP same = paint_tests::MakeMonoBitmap(16, 12, {{3, 4}});
  Canvas second(30, 30);
  SetTextColor(second.dc(), kInk);
  DrawCheckBitmap(second.dc(), RECT{0, 0, 16, 16}, false, same);
  EXPECT_EQ(kInk, second.At(3, 2)) << "source row 4 lands on cell row 2";
  DeleteObject(same);
}

TEST_F(DrawHelpersTest, StandardMarkIsLoadedAndDeletedCallersBitmapSurvives) {
  Canvas canvas(30, 30);
  const long live = GdiCounter::Live();
  const long loaded = GdiCounter::Created(GdiKind::Bitmap);
  const long freed = GdiCounter::Freed(GdiKind::Bitmap);
  const long dcs = GdiCounter::Created(GdiKind::MemoryDC);

  DrawCheckBitmap(canvas.dc(), RECT{0, 0, 22, 22}, false, nullptr);
  EXPECT_EQ(loaded + 1, GdiCounter::Created(GdiKind::Bitmap)) << "the standard check mark is loaded";
  EXPECT_EQ(freed + 1, GdiCounter::Freed(GdiKind::Bitmap)) << "and deleted within the call";
  EXPECT_EQ(dcs + 1, GdiCounter::Created(GdiKind::MemoryDC));
  EXPECT_EQ(live, GdiCounter::Live());
  EXPECT_GT(canvas.CountIf(RECT{1, 1, 21, 21}, [](COLORREF p) { return p != kUntouched; }), 0);

  HBITMAP mine = paint_tests::MakeMonoBitmap(13, 13, {{0, 0}});
  const long live_with_mine = GdiCounter::Live();
  const long mine_freed = GdiCounter::TimesFreed(mine);  // an earlier object may have had the same handle
  DrawCheckBitmap(canvas.dc(), RECT{0, 0, 22, 22}, true, mine);
  DrawCheckBitmap(canvas.dc(), RECT{0, 0, 22, 22}, false, mine);
  EXPECT_EQ(mine_freed, GdiCounter::TimesFreed(mine));
  EXPECT_EQ(OBJ_BITMAP, static_cast<int>(GetObjectType(mine)));
  EXPECT_EQ(live_with_mine, GdiCounter::Live());
  // Still usable: it can be selected into a context (so nothing left it selected either).
  HDC probe = CreateCompatibleDC(canvas.dc());
  EXPECT_NE(nullptr, SelectObject(probe, mine));
  DeleteDC(probe);
  DeleteObject(mine);
}

}  // namespace
