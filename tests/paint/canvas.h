// Rendering into memory and reading pixels back: a 32-bit top-down DIB selected into a memory DC,
// and a bench of real owner-drawn menu items painted through DrawMenuItem.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "item_paint.h"
#include "item_record.h"

namespace paint_tests {

// A colour no drawing routine produces by itself: whatever is still this colour was not painted.
constexpr COLORREF kUntouched = RGB(1, 2, 3);

class Canvas {
 public:
  Canvas(int width, int height, COLORREF fill = kUntouched);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return dc_; }
  int width() const { return width_; }
  int height() const { return height_; }
  COLORREF At(int x, int y) const;
  void Fill(COLORREF color);
  // Smallest rectangle (right and bottom exclusive) holding every pixel in area for which match is
  // true; empty (all zero) when there is none.
  RECT Bounds(const RECT& area, const std::function<bool(COLORREF)>& match) const;
  RECT BoundsOf(const RECT& area, COLORREF color) const {
    return Bounds(area, [color](COLORREF c) { return c == color; });
  }
  // Number of pixels in area for which match is true.
  int CountIf(const RECT& area, const std::function<bool(COLORREF)>& match) const;
  // Whether every pixel of area has this colour.
  bool All(const RECT& area, COLORREF color) const;
  // Saves the picture as a .bmp (for looking at a failure).
  void Save(const std::wstring& path) const;

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  DWORD* bits_ = nullptr;
};

// Perceived brightness, for telling a light edge from a dark one.
int Brightness(COLORREF c);

// An image list object over width x height pictures drawn by paint: the picture i gets paint(i, x, y)
// as the colour of pixel (x, y); magenta is transparent.
common::com_ptr<IDispatch> MakeImageList(int width, int height, int count,
                                         const std::function<COLORREF(int, int, int)>& paint);
constexpr COLORREF kMask = RGB(255, 0, 255);

// A monochrome width x height bitmap, white except the black pixels listed.
HBITMAP MakeMonoBitmap(int width, int height, const std::vector<POINT>& black);

// Selects a font without smoothing into dc (so text pixels carry exactly the text colour) for the
// life of the object.
class PlainFont {
 public:
  explicit PlainFont(HDC dc);
  ~PlainFont();

 private:
  HDC dc_;
  HFONT font_;
  HGDIOBJ old_;
};

// Real popup menu items with records in a real item store.
class MenuBench {
 public:
  MenuBench();
  ~MenuBench();
  MenuBench(const MenuBench&) = delete;
  MenuBench& operator=(const MenuBench&) = delete;

  // Appends an owner-drawn item carrying our item data; returns its slot.
  int Add(const std::wstring& caption, int image_index, bool top_level = false, bool separator = false);
  // Appends an item with foreign item data (not ours).
  UINT AddForeign(ULONG_PTR data);
  HMENU menu() const { return menu_; }
  UINT IdOf(int slot) const { return 100 + static_cast<UINT>(slot); }
  glyphary::ItemRecord& record(int slot) { return items_[static_cast<size_t>(slot)]; }

  glyphary::PaintContext context;  // cell 16 x 16, no image list until a test sets one

  // Builds the DRAWITEMSTRUCT the platform would send for the item at slot (item data read back from
  // the menu) and paints it through DrawMenuItem.
  LONG Paint(int slot, HDC dc, RECT item, UINT state, UINT action = ODA_DRAWENTIRE);
  DRAWITEMSTRUCT Describe(UINT id, HDC dc, RECT item, UINT state, UINT action = ODA_DRAWENTIRE) const;

 private:
  HMENU menu_;
  std::vector<glyphary::ItemRecord> items_;
  int count_ = 0;
  common::com_ptr<IDispatch> image_list_;
};

// Sets the menu colours to values that differ from each other and from kUntouched for the life of
// the object, and puts the previous ones back afterwards.
class DistinctMenuColors {
 public:
  DistinctMenuColors();
  ~DistinctMenuColors();

 private:
  std::vector<int> indexes_;
  std::vector<COLORREF> previous_;
};

}  // namespace paint_tests
