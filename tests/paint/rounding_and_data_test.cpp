// Painting does not depend on the floating-point rounding mode the client's thread is in (halves
// go to the even neighbour as in measuring), and takes item data as the other paths do.
#include <gtest/gtest.h>

#include <cfenv>

#include "canvas.h"
#include "draw_helpers.h"

using namespace paint_tests;

namespace {

// Runs f with the thread's rounding mode set to mode, and puts the mode back.
template <typename F>
void InMode(int mode, F f) {
  const int before = std::fegetround();
  std::fesetround(mode);
  f();
  std::fesetround(before);
}

// Where the painted pixels of a canvas lie.
RECT Painted(const Canvas& c) {
  return c.Bounds(RECT{0, 0, c.width(), c.height()}, [](COLORREF p) { return p != kUntouched; });
}

}  // namespace

TEST(PaintRounding, CheckMarkAndSeparatorIndependentOfTheRoundingMode) {
  // A 13 x 13 mark in a 22 and a 16 pixel cell: 4.5 and 1.5 pixels each side, rounded to 4 and 2.
  HBITMAP mark = MakeMonoBitmap(13, 13, {{0, 0}, {12, 12}});
  for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD}) {
    for (int size : {22, 16}) {
      Canvas canvas(40, 40);
      SetTextColor(canvas.dc(), RGB(0, 0, 0));
      const RECT cell{5, 7, 5 + size, 7 + size};
      InMode(mode, [&] { glyphary::DrawHelpers::DrawCheckBitmap(canvas.dc(), cell, false, mark); });
      const int offset = size == 22 ? 4 : 2;
      EXPECT_EQ(RGB(0, 0, 0), canvas.At(cell.left + offset, cell.top + offset)) << "mode " << mode << " cell " << size;
      EXPECT_EQ(RGB(0, 0, 0), canvas.At(cell.left + offset + 12, cell.top + offset + 12))
          << "mode " << mode << " cell " << size;
    }
  }
  DeleteObject(mark);

  // A separator 9 pixels high: its line's top at 9 / 2 - 1 = 3.5, rounded to 4.
  MenuBench bench;
  const int separator = bench.Add(L"", -1, false, true);
  Canvas reference(60, 20);
  ASSERT_EQ(1, bench.Paint(separator, reference.dc(), RECT{0, 0, 50, 9}, 0, ODA_DRAWENTIRE));
  const RECT expected = Painted(reference);
  EXPECT_EQ(4, expected.top);
  for (int mode : {FE_UPWARD, FE_DOWNWARD}) {
    Canvas canvas(60, 20);
    LONG painted = 0;
    InMode(mode, [&] { painted = bench.Paint(separator, canvas.dc(), RECT{0, 0, 50, 9}, 0, ODA_DRAWENTIRE); });
    EXPECT_EQ(1, painted);
    const RECT got = Painted(canvas);
    EXPECT_EQ(expected.top, got.top) << "mode " << mode;
    EXPECT_EQ(expected.bottom, got.bottom) << "mode " << mode;
  }
}

// Item data wider than 32 bits is never ours, whatever its low half says: measuring and the
// menu walk refuse it, and so does painting.
TEST(PaintItemData, WiderThanThirtyTwoBitsIsNotOurs) {
  if (sizeof(ULONG_PTR) <= 4) GTEST_SKIP() << "item data is 32 bits wide in this build";
  MenuBench bench;
  const int own = bench.Add(L"&Open", -1, false, false);
  const ULONG_PTR wide = static_cast<ULONG_PTR>(0x100000000ull) | static_cast<uint32_t>(glyphary::MakeItemData(
                                                                  static_cast<int16_t>(own)));
  const UINT id = bench.AddForeign(wide);
  Canvas canvas(80, 30);
  DRAWITEMSTRUCT dis = bench.Describe(id, canvas.dc(), RECT{0, 0, 80, 20}, 0, ODA_DRAWENTIRE);
  ASSERT_EQ(wide, dis.itemData);
  EXPECT_EQ(0, glyphary::DrawMenuItem(bench.context, reinterpret_cast<LONG_PTR>(&dis)));
  EXPECT_TRUE(canvas.All(RECT{0, 0, 80, 30}, kUntouched)) << "nothing drawn for an item that is not ours";
}
