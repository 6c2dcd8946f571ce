// Painting beside the classic 96-DPI look: keyboard cues, flat menus, pictures with an alpha channel
// and pictures scaled for 144 DPI.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "canvas.h"
#include "image_list_object.h"
#include "item_paint.h"
#include "picture_cache.h"

using paint_tests::Canvas;
using paint_tests::kUntouched;
using paint_tests::MenuBench;

namespace {

constexpr COLORREF kMenuHighlight = RGB(49, 106, 197);

// The colours of DistinctMenuColors plus the flat menus' highlight, put back afterwards.
class FlatColors {
 public:
  FlatColors() : previous_(GetSysColor(COLOR_MENUHILIGHT)) {
    const int index = COLOR_MENUHILIGHT;
    SetSysColors(1, &index, &kMenuHighlight);
  }
  ~FlatColors() {
    const int index = COLOR_MENUHILIGHT;
    SetSysColors(1, &index, &previous_);
  }

 private:
  COLORREF previous_;
};

// A 16 x 16 picture with straight alpha: an opaque red square 5..10, a half transparent red ring
// 3..12 around it, nothing (transparent black) elsewhere.
uint32_t RingPixel(int x, int y) {
  if (x >= 5 && x < 11 && y >= 5 && y < 11) return 0xFFFF0000;
  if (x >= 3 && x < 13 && y >= 3 && y < 13) return 0x80FF0000;
  return 0;
}

common::com_ptr<IDispatch> AlphaImageList() {
  HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32, 1, 1);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof bi.bmiHeader, 16, -16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) static_cast<uint32_t*>(bits)[y * 16 + x] = RingPixel(x, y);
  ImageList_Add(list, dib, nullptr);
  DeleteObject(dib);
  return client::NewImageListObject(list);
}

bool Between(int value, int a, int b, int slack = 2) {
  return value >= std::min(a, b) - slack && value <= std::max(a, b) + slack;
}

class HighDpiPaintTest : public ::testing::Test {
 protected:
  // Pictures of list at dpi: cell = picture side + 6 scaled (22 at 96, 24 + 9 = 33 at 144).
  void Use(const common::com_ptr<IDispatch>& list, uint32_t dpi, int cell) {
    images_ = list;
    bench_.context.image_list = images_.get();
    bench_.context.pictures = &cache_;
    bench_.context.dpi = dpi;
    bench_.context.cell_width = cell;
    bench_.context.cell_height = cell;
  }
  int CountText(const std::wstring& caption, UINT state, bool cues) {
    MenuBench bench;
    bench.context.keyboard_cues = cues;
    const int slot = bench.Add(caption, -1);
    Canvas canvas(160, 20);
    paint_tests::PlainFont font(canvas.dc());
    bench.Paint(slot, canvas.dc(), RECT{0, 0, 160, 20}, state);
    return canvas.CountIf(RECT{0, 0, 160, 20}, [](COLORREF c) { return c == GetSysColor(COLOR_MENUTEXT); });
  }

  paint_tests::DistinctMenuColors colors_;
  FlatColors flat_colors_;
  glyphary::PictureCache cache_;
  MenuBench bench_;
  common::com_ptr<IDispatch> images_;
};

TEST_F(HighDpiPaintTest, MnemonicUnderlineHiddenOnlyWhenTheSystemHidesCuesAndTheItemSaysSo) {
  const int plain = CountText(L"Wide", 0, true);
  ASSERT_GT(plain, 0);
  EXPECT_EQ(plain, CountText(L"&Wide", ODS_NOACCEL, false)) << "hidden: the same ink as without the mark";
  EXPECT_GT(CountText(L"&Wide", ODS_NOACCEL, true), plain) << "cues shown by the system";
  EXPECT_GT(CountText(L"&Wide", 0, false), plain) << "after Alt the item no longer says ODS_NOACCEL";
  EXPECT_EQ(CountText(L"Wi&&de", 0, true), CountText(L"Wi&&de", ODS_NOACCEL, false)) << "a doubled mark stays an &";
}

TEST_F(HighDpiPaintTest, FlatMenusHighlightTheWholeItemFramedAndClassicMenusDoNot) {
  for (bool flat : {false, true}) {
    bench_.context.flat_menus = flat;
    const int slot = bench_.Add(L"Item", -1);
    Canvas canvas(120, 20);
    bench_.Paint(slot, canvas.dc(), RECT{0, 0, 120, 20}, ODS_SELECTED);
    if (flat) {
      EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), canvas.At(0, 0)) << "frame";
      EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), canvas.At(119, 19)) << "frame";
      EXPECT_EQ(kMenuHighlight, canvas.At(1, 1));
      EXPECT_EQ(kMenuHighlight, canvas.At(118, 18));
    } else {
      EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), canvas.At(1, 1));
      EXPECT_EQ(0, canvas.CountIf(RECT{0, 0, 120, 20}, [](COLORREF c) { return c == kMenuHighlight; }));
    }
  }
}

// Over the menu colour and over the flat highlight, at 96 and at 144 DPI (where the 16-pixel picture
// is drawn at 24): every pixel of the cell lies between the picture's red and the background it
// stands on, so nothing is darker than both (no black fringe) and nothing of another colour.
TEST_F(HighDpiPaintTest, AlphaPictureBlendsPerPixelWithoutFringeAndScales) {
  struct Case {
    uint32_t dpi;
    int cell, inset, ring;  // ring: side of the visible picture, 10 scaled
    bool flat;
  };
  for (Case c : {Case{96, 22, 3, 10, false}, Case{96, 22, 3, 10, true}, Case{144, 33, 4, 15, false},
                 Case{144, 33, 4, 15, true}}) {
    SCOPED_TRACE(testing::Message() << c.dpi << " DPI, flat " << c.flat);
    Use(AlphaImageList(), c.dpi, c.cell);
    bench_.context.flat_menus = c.flat;
    const int slot = bench_.Add(L"Item", 1);
    Canvas canvas(200, c.cell);
    const UINT state = c.flat ? ODS_SELECTED : 0;
    ASSERT_EQ(1, bench_.Paint(slot, canvas.dc(), RECT{0, 0, 200, c.cell}, state));
    const COLORREF bg = c.flat ? kMenuHighlight : GetSysColor(COLOR_MENU);
    const RECT picture{c.inset, c.inset, c.cell - c.inset, c.cell - c.inset};
    int outside = 0;
    for (int y = picture.top + 1; y < picture.bottom - 1; ++y)
      for (int x = picture.left + 1; x < picture.right - 1; ++x) {
        const COLORREF p = canvas.At(x, y);
        if (!Between(GetRValue(p), 255, GetRValue(bg)) || !Between(GetGValue(p), 0, GetGValue(bg)) ||
            !Between(GetBValue(p), 0, GetBValue(bg)))
          ++outside;
      }
    EXPECT_EQ(0, outside) << "pixels neither picture nor background nor between";
    const RECT shown = canvas.Bounds(picture, [bg](COLORREF p) { return p != bg; });
    // Filtering spreads the ring's edge over at most one more pixel.
    EXPECT_GE(shown.right - shown.left, c.ring) << "the ring, scaled with the picture";
    EXPECT_LE(shown.right - shown.left, c.ring + 1) << "the ring, scaled with the picture";
    EXPECT_EQ(RGB(255, 0, 0), canvas.At(c.cell / 2, c.cell / 2)) << "opaque centre";
    // The half transparent ring: half way between red and the background.
    const COLORREF half = canvas.At(c.inset + (c.dpi == 96 ? 3 : 5), c.cell / 2);
    EXPECT_TRUE(Between(GetRValue(half), (255 + GetRValue(bg)) / 2, (255 + GetRValue(bg)) / 2, 4)) << std::hex << half;
    EXPECT_TRUE(Between(GetGValue(half), GetGValue(bg) / 2, GetGValue(bg) / 2, 4)) << std::hex << half;
  }
}

// Grayed: the alpha picture becomes a faded grey version of itself (grey of its brightness at 110/255
// of its opacity), not the embossed picture of pictures without alpha.
TEST_F(HighDpiPaintTest, DisabledAlphaPictureIsFadedGrey) {
  Use(AlphaImageList(), 96, 22);
  const int slot = bench_.Add(L"Item", 1);
  Canvas canvas(200, 22);
  ASSERT_EQ(1, bench_.Paint(slot, canvas.dc(), RECT{0, 0, 200, 22}, ODS_GRAYED));
  const int grey = (255 * 77) >> 8;  // red's brightness
  auto expect = [&](int x, int y, double opacity) {
    const COLORREF p = canvas.At(x, y);
    const COLORREF under = kUntouched;  // a grayed item's cell is not filled
    for (auto [got, base] : {std::pair{GetRValue(p), GetRValue(under)}, std::pair{GetGValue(p), GetGValue(under)},
                             std::pair{GetBValue(p), GetBValue(under)}}) {
      const double want = base + (grey - base) * opacity * 110.0 / 255.0;
      EXPECT_NEAR(want, got, 3.0) << "at " << x << "," << y;
    }
  };
  expect(11, 11, 1.0);
  expect(6, 11, 128.0 / 255.0);
  expect(4, 4, 0.0);
  EXPECT_EQ(0, canvas.CountIf(RECT{0, 0, 22, 22}, [](COLORREF c) { return c == GetSysColor(COLOR_BTNHIGHLIGHT); }))
      << "no embossed light copy";
}

// A classic picture at 96 DPI is drawn as it always was, cache or not; at 144 it is scaled to 24.
TEST_F(HighDpiPaintTest, ClassicPictureUnchangedAt96AndScaledAt144) {
  auto marked = paint_tests::MakeImageList(16, 16, 1, [](int, int x, int y) {
    return x == 1 && y == 0 ? paint_tests::kMask : (x < 8 ? RGB(255, 0, 0) : RGB(0, 0, 255));
  });
  Canvas before(120, 22), after(120, 22);
  {
    MenuBench plain;
    plain.context.image_list = marked.get();
    plain.context.cell_width = plain.context.cell_height = 22;
    plain.Paint(plain.Add(L"Item", 1), before.dc(), RECT{0, 0, 120, 22}, ODS_SELECTED);
  }
  Use(marked, 96, 22);
  bench_.Paint(bench_.Add(L"Item", 1), after.dc(), RECT{0, 0, 120, 22}, ODS_SELECTED);
  int differ = 0;
  for (int y = 0; y < 22; ++y)
    for (int x = 0; x < 120; ++x) differ += before.At(x, y) != after.At(x, y);
  EXPECT_EQ(0, differ);

  Use(marked, 144, 33);
  Canvas scaled(160, 33);
  bench_.Paint(bench_.Add(L"Item", 1), scaled.dc(), RECT{0, 0, 160, 33}, 0);
  const RECT ink = scaled.Bounds(RECT{0, 0, 33, 33}, [](COLORREF c) { return GetRValue(c) > 200 && GetGValue(c) < 60; });
  EXPECT_EQ(4, ink.left);
  EXPECT_EQ(28, ink.bottom) << "24 high from 4";
  // Where red meets blue the colours blend; nowhere is anything darker than both (no black).
  EXPECT_EQ(0, scaled.CountIf(RECT{4, 4, 28, 28}, [](COLORREF c) { return GetRValue(c) + GetBValue(c) < 200; }));
}

TEST_F(HighDpiPaintTest, SeparatorLinesTwoPixelsThickAt144) {
  bench_.context.dpi = 144;
  const int slot = bench_.Add(L"", -1, false, true);
  Canvas canvas(60, 14);
  bench_.Paint(slot, canvas.dc(), RECT{0, 0, 60, 14}, 0);
  EXPECT_TRUE(canvas.All(RECT{0, 0, 60, 5}, kUntouched));
  EXPECT_TRUE(canvas.All(RECT{0, 5, 60, 7}, GetSysColor(COLOR_BTNSHADOW)));
  EXPECT_TRUE(canvas.All(RECT{0, 7, 60, 9}, GetSysColor(COLOR_BTNHIGHLIGHT)));
  EXPECT_TRUE(canvas.All(RECT{0, 9, 60, 14}, kUntouched));
}

}  // namespace
