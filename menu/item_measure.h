// The sizes the component reports for its own menu items, as plain arithmetic.
// Fractions are computed in double precision and rounded to the nearest integer, an exact
// half to the even neighbour; a result outside 32 bits raises error 6.
#pragma once
#include <cstdint>

namespace glyphary {

int32_t RoundHalfEven(double value);

struct ItemSize {
  int32_t width;
  int32_t height;
};

// A separator: 10 wide (at 96 DPI, scaled to dpi), half the menu bar height high.
ItemSize SeparatorSize(int32_t cy_menu, uint32_t dpi = 96);
// A popup item: the picture cell's share, 4 pixels (at 96 DPI, scaled to dpi as two gaps of 2) and
// the text.
int32_t PopupItemWidth(int32_t cell_width, int32_t text_left, int32_t text_right, uint32_t dpi = 96);
// A menu-bar item: nine tenths of its text.
int32_t BarItemWidth(int32_t text_width);
// Both kinds: at least the menu bar height, the text and the picture cell.
int32_t ItemHeight(int32_t cy_menu, int32_t text_height, int32_t cell_height);

}  // namespace glyphary
