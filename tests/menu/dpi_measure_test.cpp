// Measuring at 96, 144 and 192 DPI, handed to the component as a per-monitor form would hand it.
// The expected figures are worked out here by hand from the 96-DPI rules: every length scaled by
// DPI / 96 and rounded half to even, the text measured in the menu font of that DPI.
#include <gtest/gtest.h>

#include "menu_fixture.h"

using namespace menu_test;

namespace {

struct DpiCase {
  UINT dpi;
  LONG list_size;     // the image list's pictures
  LONG font_height;   // the platform's menu font at that DPI (-11 at 96)
  int cell;           // picture side + 6 scaled
  int width_extra;    // cell * 1.3 + two gaps of 2 scaled, before rounding with the text
  double width_fraction;
  int separator_width;
};

// 96: cell 22, 28.6 + 4;  144: cell 24 + 9 = 33, 42.9 + 6;  192: cell 32 + 12 = 44, 57.2 + 8;
// a 24 x 24 list at 144 keeps its size (cell 33), at 192 is drawn at 32; a 32 x 32 list at 144: 41.
const DpiCase kCases[] = {
    {96, 16, -11, 22, 32, 0.6, 10},  {144, 16, -17, 33, 48, 0.9, 15}, {192, 16, -22, 44, 65, 0.2, 20},
    {144, 24, -17, 33, 48, 0.9, 15}, {192, 24, -22, 44, 65, 0.2, 20}, {144, 32, -17, 41, 59, 0.3, 15},
};

RECT TextRectAt(const std::string& text, LONG font_height) {
  NONCLIENTMETRICSA ncm{};
  ncm.cbSize = 340;
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 340, &ncm, 0);
  ncm.lfMenuFont.lfHeight = font_height;
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

// The menu bar height the platform reports for a DPI (28 at 144 here, 19 at 96).
int MenuBarAt(UINT dpi) {
  using Fn = int(WINAPI*)(int, UINT);
  auto f = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
  return f ? f(SM_CYMENU, dpi) : MulDiv(GetSystemMetrics(SM_CYMENU), static_cast<int>(dpi), 96);
}

}  // namespace

TEST(MeasureAtDpi, CellGapsSeparatorAndFontFollowTheDpi) {
  EXPECT_EQ(28, MenuBarAt(144)) << "the platform's figure for 144 DPI";
  for (const DpiCase& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.dpi << " DPI, " << c.list_size << " pixel pictures");
    auto form = SampleForm();
    const HMENU file = GetSubMenu(form->MenuBar(), 0);
    auto g = NewComponent();
    ASSERT_EQ(S_OK, SetImageList(g.get(), FakeImageList(c.list_size, c.list_size).get()));
    ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
    g->ApplyDpi(c.dpi);
    EXPECT_EQ(c.cell, g->CellWidth());
    EXPECT_EQ(c.cell, g->CellHeight());
    LOGFONTW font{};
    GetObjectW(g->MenuFont(), sizeof font, &font);
    EXPECT_EQ(c.font_height, font.lfHeight);

    MEASUREITEMSTRUCT item{ODT_MENU, 0, 1, 0, 0, ItemData(file, 0)};
    LONG_PTR result = 0;
    ASSERT_EQ(S_OK, g->Message(WM_MEASUREITEM, 0, reinterpret_cast<LONG_PTR>(&item), &result));
    const RECT n = TextRectAt("&Newm", c.font_height);
    // Text widths are whole: a fraction of .6, .9 or .3 rounds up, .2 down.
    const int expected_width = n.right - n.left + c.width_extra + (c.width_fraction > 0.5 ? 1 : 0);
    EXPECT_EQ(static_cast<UINT>(expected_width), item.itemWidth);
    EXPECT_EQ(static_cast<UINT>(std::max({MenuBarAt(c.dpi), static_cast<int>(n.bottom - n.top), c.cell})),
              item.itemHeight);

    MEASUREITEMSTRUCT separator{ODT_MENU, 0, 2, 0, 0, ItemData(file, 2)};
    ASSERT_EQ(S_OK, g->Message(WM_MEASUREITEM, 0, reinterpret_cast<LONG_PTR>(&separator), &result));
    EXPECT_EQ(static_cast<UINT>(c.separator_width), separator.itemWidth);
    const int bar = MenuBarAt(c.dpi);
    // Half the bar, an exact half going to the even neighbour.
    const int half = bar / 2 + ((bar % 2) && ((bar / 2) % 2) ? 1 : 0);
    EXPECT_EQ(static_cast<UINT>(half), separator.itemHeight);
  }
}

// A per-monitor aware form moved to a monitor of another DPI: the component follows.
TEST(MeasureAtDpi, DpiChangedMessageRescalesTheCellAndTheFont) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetImageList(g.get(), FakeImageList(16, 16).get()));
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  ASSERT_EQ(22, g->CellWidth());
  RECT suggested{0, 0, 800, 600};
  SendMessageW(form->hwnd(), glyphary::kDpiChanged, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(192u, g->Dpi());
  EXPECT_EQ(44, g->CellWidth());
  LOGFONTW font{};
  GetObjectW(g->MenuFont(), sizeof font, &font);
  EXPECT_EQ(-22, font.lfHeight);
}

// Without an image list the cell still follows the DPI (the default 10-pixel picture plus gaps).
TEST(MeasureAtDpi, CellWithoutAnImageListScalesToo) {
  auto g = NewComponent();
  EXPECT_EQ(16, g->CellWidth());
  g->ApplyDpi(192);
  EXPECT_EQ(32, g->CellWidth());
  EXPECT_EQ(32, g->CellHeight());
  g->ApplyDpi(144);
  EXPECT_EQ(24, g->CellWidth());
  g->ApplyDpi(96);
  EXPECT_EQ(16, g->CellHeight());
}
