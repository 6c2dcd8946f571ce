#include "draw_helpers.h"

#include <cmath>
#include <cstdint>

#include "checked_math.h"
#include "unique_handles.h"

namespace glyphary::DrawHelpers {

namespace {

constexpr const wchar_t* kSource = L"Glyphary.DrawHelpers";
constexpr WORD kStandardCheckMark = 32760;  // OBM_CHECK, declared only with OEMRESOURCE

// Half a pixel difference, rounded to the nearest integer with exact halves going to the even one
// (whatever the thread's rounding mode).
int32_t HalfRounded(int32_t difference) {
  return static_cast<int32_t>(common::NearestEven(static_cast<double>(difference) / 2.0));
}

// Puts the caller's background colour back when the blit is done.
class saved_bk_color {
 public:
  saved_bk_color(HDC dc, COLORREF color) noexcept : dc_(dc), old_(SetBkColor(dc, color)) {}
  saved_bk_color(const saved_bk_color&) = delete;
  saved_bk_color& operator=(const saved_bk_color&) = delete;
  ~saved_bk_color() { SetBkColor(dc_, old_); }

 private:
  HDC dc_;
  COLORREF old_;
};

}  // namespace

void FillColorRect(HDC hDC, const RECT& rect, COLORREF color) {
  const int32_t width = common::CheckedSub(rect.right, rect.left, kSource);
  const int32_t height = common::CheckedSub(rect.bottom, rect.top, kSource);
  common::unique_hbrush brush(CreateSolidBrush(color));
  common::unique_select_object selected(hDC, brush.get());
  PatBlt(hDC, rect.left, rect.top, width, height, PATCOPY);
  // selected puts the previous brush back, then brush is deleted.
}

bool DrawCheckBitmap(HDC hDC, const RECT& cell, bool selected, HBITMAP bitmap) {
  common::unique_hbitmap loaded;
  if (!bitmap) {
    loaded.reset(static_cast<HBITMAP>(LoadBitmapA(nullptr, MAKEINTRESOURCEA(kStandardCheckMark))));
    bitmap = loaded.get();
  }
  BITMAP info{};
  GetObjectA(bitmap, sizeof info, &info);
  const int32_t bw = info.bmWidth;
  const int32_t bh = info.bmHeight;

  const int32_t cell_width = common::CheckedSub(cell.right, cell.left, kSource);
  const int32_t cell_height = common::CheckedSub(cell.bottom, cell.top, kSource);
  const int32_t dx = HalfRounded(common::CheckedSub(cell_width, bw, kSource));
  const int32_t dy = HalfRounded(common::CheckedSub(cell_height, bh, kSource));

  int32_t dest_x, dest_y, width, height, src_x, src_y;
  if (cell_width > bw) {
    dest_x = common::CheckedAdd(cell.left, dx, kSource);
    dest_y = common::CheckedAdd(cell.top, dy, kSource);
    width = bw;
    height = bh;
    src_x = 0;
    src_y = 0;
  } else {
    // Only the width decides: the whole cell is the destination, read from (dx, dy) of the bitmap.
    dest_x = cell.left;
    dest_y = cell.top;
    width = cell_width;
    height = cell_height;
    src_x = dx;
    src_y = dy;
  }

  {
    common::unique_hdc memory(CreateCompatibleDC(hDC));
    common::unique_select_object in_memory(memory.get(), bitmap);
    saved_bk_color bk(hDC, GetSysColor(selected ? COLOR_MENU : COLOR_3DLIGHT));
    BitBlt(hDC, dest_x, dest_y, width, height, memory.get(), src_x, src_y, SRCCOPY);
    // bk, in_memory and memory unwind in this order: background colour, bitmap, memory context.
  }

  RECT frame = cell;
  DrawEdge(hDC, &frame, BDR_SUNKENINNER, BF_RECT);
  return true;  // loaded (the standard check mark, if it was loaded here) is deleted on the way out
}

}  // namespace glyphary::DrawHelpers
