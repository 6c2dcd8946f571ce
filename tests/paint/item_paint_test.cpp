#include <gtest/gtest.h>

#include "canvas.h"
#include "gdi_counter.h"
#include "item_paint.h"
#include "runtime_error.h"

using paint_tests::Brightness;
using paint_tests::Canvas;
using paint_tests::kMask;
using paint_tests::kUntouched;
using paint_tests::MenuBench;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
const std::wstring kLongCaption(40, L'W');

// A picture that shows where it landed: red top-left, green bottom-right, a transparent pixel
// right of the red one, blue elsewhere.
COLORREF Marked(int size, int x, int y) {
  if (x == 0 && y == 0) return kRed;
  if (x == 1 && y == 0) return kMask;
  if (x == size - 1 && y == size - 1) return kGreen;
  return kBlue;
}

class ItemPaintTest : public ::testing::Test {
 protected:
  void UseImages(int size) {
    images_ = paint_tests::MakeImageList(size, size, 2, [size](int, int x, int y) { return Marked(size, x, y); });
    bench_.context.image_list = images_.get();
    bench_.context.cell_width = size + 6;
    bench_.context.cell_height = size + 6;
  }
  COLORREF Sys(int index) const { return GetSysColor(index); }

  paint_tests::DistinctMenuColors colors_;
  MenuBench bench_;
  common::com_ptr<IDispatch> images_;
};

// --- separators and the cell ---------------------------------------------------------------------

TEST_F(ItemPaintTest, SeparatorIsAnEtchedLineAtRoundedMiddleAndNothingElse) {
  const int slot = bench_.Add(L"", -1, false, true);
  for (int bottom : {9, 10, 11}) {
    Canvas canvas(60, 12);
    EXPECT_EQ(1, bench_.Paint(slot, canvas.dc(), RECT{0, 0, 60, bottom}, ODS_SELECTED));
    EXPECT_TRUE(canvas.All(RECT{0, 0, 60, 4}, kUntouched)) << "bottom " << bottom;
    EXPECT_TRUE(canvas.All(RECT{0, 4, 60, 5}, Sys(COLOR_BTNSHADOW))) << "bottom " << bottom;
    EXPECT_TRUE(canvas.All(RECT{0, 5, 60, 6}, Sys(COLOR_BTNHIGHLIGHT))) << "bottom " << bottom;
    EXPECT_TRUE(canvas.All(RECT{0, 6, 60, 12}, kUntouched)) << "no background, even when selected";
  }
}

TEST_F(ItemPaintTest, CellTopIsRoundedHalvesToEven) {
  UseImages(10);  // cell 16 x 16
  const int slot = bench_.Add(L"Item", 1);
  const std::pair<int, int> cases[] = {{19, 2}, {21, 2}, {22, 3}, {16, 0}};
  for (auto [height, top] : cases) {
    Canvas canvas(100, 24);
    bench_.Paint(slot, canvas.dc(), RECT{0, 0, 100, height}, 0);
    const RECT cell = canvas.BoundsOf(RECT{0, 0, 16, 24}, Sys(COLOR_MENU));
    EXPECT_EQ(top, cell.top) << "item height " << height;
    EXPECT_EQ(top + 16, cell.bottom) << "item height " << height;
    EXPECT_EQ(0, cell.left);
    EXPECT_EQ(16, cell.right);
    EXPECT_EQ(kRed, canvas.At(3, top + 3)) << "picture at the cell's corner plus 3";
  }
}

TEST_F(ItemPaintTest, SelectedPictureItemLayoutInA200By22Item) {
  UseImages(16);  // cell 22 x 22
  const int slot = bench_.Add(kLongCaption, 1);
  Canvas canvas(200, 22);
  paint_tests::PlainFont font(canvas.dc());
  ASSERT_EQ(1, bench_.Paint(slot, canvas.dc(), RECT{0, 0, 200, 22}, ODS_SELECTED));

  // The cell (0,0)-(22,22): menu colour, raised edge, picture from (3,3) to (18,18), transparent
  // pixels showing the cell.
  EXPECT_EQ(Sys(COLOR_MENU), canvas.At(1, 1));
  EXPECT_EQ(Sys(COLOR_MENU), canvas.At(20, 20));
  EXPECT_GT(Brightness(canvas.At(0, 10)), Brightness(canvas.At(21, 10)));
  EXPECT_NE(kUntouched, canvas.At(21, 21));
  EXPECT_EQ(kRed, canvas.At(3, 3));
  EXPECT_EQ(Sys(COLOR_MENU), canvas.At(4, 3));
  EXPECT_EQ(kBlue, canvas.At(10, 10));
  EXPECT_EQ(kGreen, canvas.At(18, 18));
  EXPECT_EQ(Sys(COLOR_MENU), canvas.At(19, 19));
  EXPECT_EQ(Sys(COLOR_MENU), canvas.At(2, 2));

  // Columns 22 and 23 stay as they were; the highlight bar runs from 24 to the right edge.
  EXPECT_TRUE(canvas.All(RECT{22, 0, 24, 22}, kUntouched));
  EXPECT_EQ(Sys(COLOR_HIGHLIGHT), canvas.At(24, 0));
  EXPECT_EQ(Sys(COLOR_HIGHLIGHT), canvas.At(199, 21));

  // The text: highlight-text colour, clipped to 26..177.
  const RECT ink = canvas.BoundsOf(RECT{22, 0, 200, 22}, Sys(COLOR_HIGHLIGHTTEXT));
  EXPECT_GE(ink.left, 26);
  EXPECT_LE(ink.left, 28);
  EXPECT_LE(ink.right, 178);
  EXPECT_GE(ink.right, 172);
  EXPECT_EQ(0, canvas.CountIf(RECT{24, 0, 200, 22}, [&](COLORREF c) {
              return c != Sys(COLOR_HIGHLIGHT) && c != Sys(COLOR_HIGHLIGHTTEXT);
            }));
}

struct EdgeCase {
  UINT state;
  int fill;      // system colour inside the cell
  int edge;      // +1 raised, -1 sunken, 0 none
};

class CellEdges : public ItemPaintTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(CellEdges, RaisedWhenSelectedSunkenWhenChecked) {
  const EdgeCase c = GetParam();
  UseImages(16);
  const int slot = bench_.Add(L"Item", 1);
  Canvas canvas(120, 22);
  bench_.Paint(slot, canvas.dc(), RECT{0, 0, 120, 22}, c.state);
  EXPECT_EQ(Sys(c.fill), canvas.At(1, 1));
  EXPECT_EQ(Sys(c.fill), canvas.At(20, 20));
  const COLORREF top_left = canvas.At(0, 10), bottom_right = canvas.At(21, 10);
  const COLORREF top = canvas.At(10, 0), bottom = canvas.At(10, 21);
  if (c.edge == 0) {
    EXPECT_EQ(Sys(c.fill), top_left);
    EXPECT_EQ(Sys(c.fill), bottom_right);
    EXPECT_EQ(Sys(c.fill), top);
  } else if (c.edge > 0) {
    EXPECT_GT(Brightness(top_left), Brightness(bottom_right));
    EXPECT_GT(Brightness(top), Brightness(bottom));
  } else {
    EXPECT_LT(Brightness(top_left), Brightness(bottom_right));
    EXPECT_LT(Brightness(top), Brightness(bottom));
  }
  EXPECT_EQ(kRed, canvas.At(3, 3));
}

INSTANTIATE_TEST_SUITE_P(States, CellEdges,
                         ::testing::Values(EdgeCase{0, COLOR_MENU, 0}, EdgeCase{ODS_SELECTED, COLOR_MENU, +1},
                                           EdgeCase{ODS_CHECKED, COLOR_3DLIGHT, -1},
                                           EdgeCase{ODS_CHECKED | ODS_SELECTED, COLOR_MENU, -1}));

// --- grayed items --------------------------------------------------------------------------------

TEST_F(ItemPaintTest, GrayedPictureItemShowsOnlyTheDisabledIconInItsCellAndTheSelectionBesideIt) {
  UseImages(16);
  const int slot = bench_.Add(L"Paste\tCtrl+V", 1);
  for (UINT action : {ODA_DRAWENTIRE, ODA_SELECT}) {
    Canvas canvas(200, 22);
    paint_tests::PlainFont font(canvas.dc());
    ASSERT_EQ(1, bench_.Paint(slot, canvas.dc(), RECT{0, 0, 200, 22}, ODS_SELECTED | ODS_GRAYED, action));
    // No fill and no edge in the cell, but the icon drawn in the disabled style at (3,3) (its
    // embossed light copy reaching one pixel further right and down).
    EXPECT_TRUE(canvas.All(RECT{0, 0, 22, 3}, kUntouched));
    EXPECT_TRUE(canvas.All(RECT{0, 0, 3, 22}, kUntouched));
    EXPECT_TRUE(canvas.All(RECT{20, 0, 22, 22}, kUntouched));
    EXPECT_TRUE(canvas.All(RECT{0, 20, 22, 22}, kUntouched));
    const RECT icon = canvas.Bounds(RECT{0, 0, 22, 22}, [](COLORREF c) { return c != kUntouched; });
    EXPECT_GE(icon.left, 3);
    EXPECT_GE(icon.top, 3);
    EXPECT_GT(icon.right, icon.left) << "something was drawn in the cell";
    EXPECT_EQ(0, canvas.CountIf(RECT{0, 0, 22, 22}, [](COLORREF c) { return c == kBlue || c == kRed; }))
        << "the picture is not drawn in its own colours";
    // Beside the cell: the selection (the keyboard user sees where it is) from 2 pixels right of the
    // cell, and grey text on it without its light copy (the grey differs from the highlight colour).
    EXPECT_TRUE(canvas.All(RECT{22, 0, 24, 22}, kUntouched));
    EXPECT_EQ(0, canvas.CountIf(RECT{24, 0, 200, 22}, [&](COLORREF c) {
                return c != Sys(COLOR_HIGHLIGHT) && c != Sys(COLOR_GRAYTEXT);
              }));
    EXPECT_GT(canvas.CountIf(RECT{22, 0, 200, 22}, [&](COLORREF c) { return c == Sys(COLOR_GRAYTEXT); }), 0);
  }
}

TEST_F(ItemPaintTest, GrayedTextIsEmbossedOnePixelRightAndDown) {
  const int slot = bench_.Add(L"Grayed\tF5", -1);
  Canvas canvas(200, 20);
  paint_tests::PlainFont font(canvas.dc());
  bench_.Paint(slot, canvas.dc(), RECT{0, 0, 200, 20}, ODS_GRAYED);
  const RECT all{0, 0, 200, 20};
  const RECT grey = canvas.BoundsOf(all, Sys(COLOR_GRAYTEXT));
  const RECT light = canvas.BoundsOf(all, Sys(COLOR_BTNHIGHLIGHT));
  ASSERT_GT(grey.right, grey.left);
  ASSERT_GT(light.right, light.left);
  EXPECT_EQ(grey.right + 1, light.right);
  EXPECT_EQ(grey.bottom + 1, light.bottom);
  EXPECT_EQ(grey.left + 1, light.left);
  EXPECT_EQ(grey.top + 1, light.top);
  EXPECT_EQ(0, canvas.CountIf(all, [&](COLORREF c) { return c == Sys(COLOR_MENU); })) << "drawn whole: no fill";
  // Leaving the selection, a grayed item has its highlight taken away like any other.
  Canvas leaving(200, 20);
  bench_.Paint(slot, leaving.dc(), all, ODS_GRAYED, ODA_SELECT);
  EXPECT_GT(leaving.CountIf(all, [&](COLORREF c) { return c == Sys(COLOR_MENU); }), 200 * 20 / 2);
}

TEST_F(ItemPaintTest, SelectedGrayedTextGetsItsCopyOnlyWhenGreyEqualsTheHighlight) {
  const int slot = bench_.Add(L"Grayed", -1);
  {
    Canvas canvas(120, 20);
    paint_tests::PlainFont font(canvas.dc());
    bench_.Paint(slot, canvas.dc(), RECT{0, 0, 120, 20}, ODS_GRAYED | ODS_SELECTED);
    EXPECT_EQ(0, canvas.CountIf(RECT{0, 0, 120, 20}, [&](COLORREF c) { return c == Sys(COLOR_BTNHIGHLIGHT); }));
  }
  const int index = COLOR_GRAYTEXT;
  const COLORREF highlight = Sys(COLOR_HIGHLIGHT);
  const COLORREF grey = Sys(COLOR_GRAYTEXT);
  SetSysColors(1, &index, &highlight);
  Canvas canvas(120, 20);
  paint_tests::PlainFont font(canvas.dc());
  bench_.Paint(slot, canvas.dc(), RECT{0, 0, 120, 20}, ODS_GRAYED | ODS_SELECTED);
  const int copies = canvas.CountIf(RECT{0, 0, 120, 20}, [&](COLORREF c) { return c == Sys(COLOR_BTNHIGHLIGHT); });
  SetSysColors(1, &index, &grey);
  EXPECT_GT(copies, 0);
}

// --- items without a picture ---------------------------------------------------------------------

struct MarkCase {
  int cell;
  int offset;
};

class CheckMarkInItem : public ItemPaintTest, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(CheckMarkInItem, MenusCheckedBitmapIsCentredAndHighlightStartsRightOfTheCell) {
  const MarkCase c = GetParam();
  bench_.context.cell_width = c.cell;
  bench_.context.cell_height = c.cell;
  const int slot = bench_.Add(L"Word wrap", -1);
  HBITMAP checked = paint_tests::MakeMonoBitmap(13, 13, {{0, 0}, {12, 12}});
  HBITMAP unchecked = paint_tests::MakeMonoBitmap(13, 13, {});
  SetMenuItemBitmaps(bench_.menu(), bench_.IdOf(slot), MF_BYCOMMAND, unchecked, checked);
  const long checked_freed = testing_support::GdiCounter::TimesFreed(checked);  // handle values are reused

  Canvas canvas(150, c.cell);
  SetTextColor(canvas.dc(), kRed);  // whatever the context held: the mark is in the menu text colour
  bench_.Paint(slot, canvas.dc(), RECT{0, 0, 150, c.cell}, ODS_CHECKED | ODS_SELECTED);
  EXPECT_EQ(Sys(COLOR_MENUTEXT), canvas.At(c.offset, c.offset));
  EXPECT_EQ(Sys(COLOR_MENUTEXT), canvas.At(c.offset + 12, c.offset + 12));
  EXPECT_EQ(Sys(COLOR_MENU), canvas.At(c.offset + 1, c.offset + 1)) << "selected: white pixels in menu colour";
  EXPECT_LT(Brightness(canvas.At(0, c.cell / 2)), Brightness(canvas.At(c.cell - 1, c.cell / 2))) << "sunken";
  EXPECT_TRUE(canvas.All(RECT{c.cell, 0, c.cell + 2, c.cell}, kUntouched));
  EXPECT_EQ(Sys(COLOR_HIGHLIGHT), canvas.At(c.cell + 2, 0));

  // The caller's bitmaps belong to the menu: painting never deletes them.
  EXPECT_EQ(checked_freed, testing_support::GdiCounter::TimesFreed(checked));
  EXPECT_EQ(OBJ_BITMAP, static_cast<int>(GetObjectType(checked)));
  EXPECT_EQ(OBJ_BITMAP, static_cast<int>(GetObjectType(unchecked)));
  DeleteObject(checked);
  DeleteObject(unchecked);
}

INSTANTIATE_TEST_SUITE_P(Cells, CheckMarkInItem, ::testing::Values(MarkCase{16, 2}, MarkCase{22, 4}));

TEST_F(ItemPaintTest, UncheckedItemShowsItsUncheckedBitmapFramedSunken) {
  const int slot = bench_.Add(L"Option", -1);
  HBITMAP unchecked = paint_tests::MakeMonoBitmap(13, 13, {{6, 6}});
  SetMenuItemBitmaps(bench_.menu(), bench_.IdOf(slot), MF_BYCOMMAND, unchecked, nullptr);
  Canvas canvas(100, 16);
  SetTextColor(canvas.dc(), kRed);
  bench_.Paint(slot, canvas.dc(), RECT{0, 0, 100, 16}, 0);
  EXPECT_EQ(Sys(COLOR_MENUTEXT), canvas.At(8, 8));
  EXPECT_EQ(Sys(COLOR_3DLIGHT), canvas.At(3, 3));
  EXPECT_LT(Brightness(canvas.At(0, 8)), Brightness(canvas.At(15, 8)));
  DeleteObject(unchecked);
}

TEST_F(ItemPaintTest, PlainItemLeavesTheCellEmptyAndHighlightsFromTheLeftEdge) {
  const int slot = bench_.Add(L"Plain", -1);
  Canvas canvas(100, 16);
  bench_.Paint(slot, canvas.dc(), RECT{0, 0, 100, 16}, ODS_SELECTED);
  EXPECT_EQ(Sys(COLOR_HIGHLIGHT), canvas.At(0, 0));
  EXPECT_EQ(Sys(COLOR_HIGHLIGHT), canvas.At(15, 15));
  EXPECT_EQ(Sys(COLOR_HIGHLIGHT), canvas.At(99, 15));
}

TEST_F(ItemPaintTest, CheckedItemWithoutBitmapGetsTheStandardMark) {
  const int slot = bench_.Add(L"Status bar", -1);
  Canvas canvas(100, 22);
  testing_support::GdiCounter::Install(GetModuleHandleW(nullptr));
  const long bitmaps = testing_support::GdiCounter::Created(testing_support::GdiKind::Bitmap);
  const long live = testing_support::GdiCounter::Live();
  bench_.Paint(slot, canvas.dc(), RECT{0, 0, 100, 22}, ODS_CHECKED);
  EXPECT_EQ(bitmaps + 1, testing_support::GdiCounter::Created(testing_support::GdiKind::Bitmap));
  EXPECT_EQ(live, testing_support::GdiCounter::Live());
  EXPECT_LT(Brightness(canvas.At(0, 11)), Brightness(canvas.At(15, 11))) << "sunken frame round the 16 cell";
  EXPECT_GT(canvas.CountIf(RECT{1, 4, 15, 18}, [](COLORREF c) { return c == RGB(0, 0, 0); }), 0)
      << "the mark in the context's (black) text colour";
}

// --- the highlight and the text --------------------------------------------------------------------

TEST_F(ItemPaintTest, DeselectedItemIsRepaintedInMenuColourWholeItemIsNotFilled) {
  UseImages(16);
  const int slot = bench_.Add(L"Item", 1);
  Canvas deselected(120, 22);
  bench_.Paint(slot, deselected.dc(), RECT{0, 0, 120, 22}, 0, ODA_SELECT);
  EXPECT_TRUE(deselected.All(RECT{22, 0, 24, 22}, kUntouched));
  EXPECT_EQ(Sys(COLOR_MENU), deselected.At(24, 0));
  EXPECT_EQ(Sys(COLOR_MENU), deselected.At(119, 21));

  Canvas whole(120, 22);
  bench_.Paint(slot, whole.dc(), RECT{0, 0, 120, 22}, 0, ODA_DRAWENTIRE);
  EXPECT_EQ(kUntouched, whole.At(24, 0));
  EXPECT_EQ(kUntouched, whole.At(119, 21));
}

TEST_F(ItemPaintTest, ShortcutIsRightAlignedAtTheCellWidthFromTheRightEdge) {
  const int slot = bench_.Add(L"W\tW", -1);  // cell 16
  Canvas canvas(200, 20);
  paint_tests::PlainFont font(canvas.dc());
  bench_.Paint(slot, canvas.dc(), RECT{0, 0, 200, 20}, 0);
  const RECT all{0, 0, 200, 20};
  const COLORREF text = Sys(COLOR_MENUTEXT);
  const RECT ink = canvas.BoundsOf(all, text);
  EXPECT_GE(ink.left, 20);
  EXPECT_LE(ink.left, 22);
  EXPECT_LE(ink.right, 184);
  EXPECT_GE(ink.right, 180);
  EXPECT_EQ(0, canvas.CountIf(RECT{40, 0, 160, 20}, [&](COLORREF c) { return c == text; }))
      << "two parts, nothing between them";
  // Vertically centred.
  EXPECT_LE(std::abs((ink.top + ink.bottom) - 20), 3);
}

TEST_F(ItemPaintTest, MenuBarCaptionIsCentredAndTheHighlightCoversTheItem) {
  const int slot = bench_.Add(L"&File", -1, true);
  Canvas canvas(100, 20);
  paint_tests::PlainFont font(canvas.dc());
  bench_.Paint(slot, canvas.dc(), RECT{0, 0, 100, 20}, ODS_SELECTED);
  EXPECT_EQ(Sys(COLOR_HIGHLIGHT), canvas.At(0, 0));
  EXPECT_EQ(Sys(COLOR_HIGHLIGHT), canvas.At(99, 19));
  const RECT ink = canvas.BoundsOf(RECT{0, 0, 100, 20}, Sys(COLOR_HIGHLIGHTTEXT));
  ASSERT_GT(ink.right, ink.left);
  // Centred between rcItem.left + 4 and rcItem.right.
  EXPECT_LE(std::abs((ink.left + ink.right) - (4 + 100)), 3);
  // The mnemonic underline: some ink below the letters' baseline row.
  EXPECT_GE(ink.bottom - ink.top, 8);
}

// --- what is not ours ------------------------------------------------------------------------------

TEST_F(ItemPaintTest, ForeignItemsDrawNothingAndReturnZero) {
  const int slot = bench_.Add(L"Mine", -1);
  const UINT foreign = bench_.AddForeign(0x12340001);
  Canvas canvas(100, 20);

  DRAWITEMSTRUCT other_control = bench_.Describe(bench_.IdOf(slot), canvas.dc(), RECT{0, 0, 100, 20}, ODS_SELECTED);
  other_control.CtlType = ODT_BUTTON;
  EXPECT_EQ(0, glyphary::DrawMenuItem(bench_.context, reinterpret_cast<LONG_PTR>(&other_control)));

  DRAWITEMSTRUCT other_data = bench_.Describe(foreign, canvas.dc(), RECT{0, 0, 100, 20}, ODS_SELECTED | ODS_CHECKED);
  EXPECT_EQ(0, glyphary::DrawMenuItem(bench_.context, reinterpret_cast<LONG_PTR>(&other_data)));

  DRAWITEMSTRUCT no_data = other_data;
  no_data.itemData = 0;
  EXPECT_EQ(0, glyphary::DrawMenuItem(bench_.context, reinterpret_cast<LONG_PTR>(&no_data)));
  EXPECT_EQ(0, glyphary::DrawMenuItem(bench_.context, 0));

  EXPECT_TRUE(canvas.All(RECT{0, 0, 100, 20}, kUntouched));
  // The same item as a menu item is ours and painted.
  EXPECT_EQ(1, bench_.Paint(slot, canvas.dc(), RECT{0, 0, 100, 20}, ODS_SELECTED));
  EXPECT_FALSE(canvas.All(RECT{0, 0, 100, 20}, kUntouched));
}

TEST_F(ItemPaintTest, SlotOutsideTheStoreRaisesSubscriptOutOfRange) {
  Canvas canvas(100, 20);
  const UINT id = bench_.AddForeign(0);
  for (int16_t slot : {int16_t{512}, int16_t{-1}, int16_t{0x7FFF}}) {
    DRAWITEMSTRUCT dis = bench_.Describe(id, canvas.dc(), RECT{0, 0, 100, 20}, ODS_SELECTED);
    dis.itemData = static_cast<uint32_t>(glyphary::MakeItemData(slot));
    try {
      glyphary::DrawMenuItem(bench_.context, reinterpret_cast<LONG_PTR>(&dis));
      ADD_FAILURE() << "no error for slot " << slot;
    } catch (const common::RuntimeError& e) {
      EXPECT_EQ(common::errSubscriptOutOfRange, e.number());
    }
  }
  EXPECT_TRUE(canvas.All(RECT{0, 0, 100, 20}, kUntouched));
}

TEST_F(ItemPaintTest, ImageListErrorsReachTheCaller) {
  UseImages(16);
  const int slot = bench_.Add(L"Nine", 9);  // the list holds two pictures
  Canvas canvas(100, 22);
  try {
    bench_.Paint(slot, canvas.dc(), RECT{0, 0, 100, 22}, 0);
    FAIL() << "no error";
  } catch (const common::RuntimeError& e) {
    EXPECT_EQ(35600, e.number());
  }
  bench_.context.image_list = nullptr;
  try {
    bench_.Paint(slot, canvas.dc(), RECT{0, 0, 100, 22}, ODS_GRAYED);
    FAIL() << "no error";
  } catch (const common::RuntimeError& e) {
    EXPECT_EQ(common::errObjectNotSet, e.number());
  }
}

}  // namespace
