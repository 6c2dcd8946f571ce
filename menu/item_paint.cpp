#include "item_paint.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "ansi_text.h"
#include "caption.h"
#include "checked_math.h"
#include "com_ptr.h"
#include "dpi_scale.h"
#include "draw_helpers.h"
#include "late_bound.h"
#include "runtime_error.h"
#include "screen.h"
#include "variant_args.h"

namespace glyphary {

namespace {

constexpr const wchar_t* kSource = L"Glyphary.CGlyphary";

// MENUITEMINFOA without its trailing bitmap-item field (44 bytes in the 32-bit build).
constexpr UINT kMenuItemInfoSize = offsetof(MENUITEMINFOA, hbmpItem);

constexpr UINT kFormatLine = DT_SINGLELINE | DT_VCENTER;               // 0x24
constexpr UINT kFormatShortcut = DT_RIGHT | DT_VCENTER | DT_SINGLELINE;  // 0x26
constexpr LONG_PTR kTransparentStyle = 1;                                 // "Draw" style: transparent

using common::DoubleArg;
using common::LongArg;

// Halves to the even neighbour, as measuring rounds, whatever the thread's rounding mode.
int32_t Rounded(double value) { return static_cast<int32_t>(common::NearestEven(value)); }

// The image object that "ListImages"(index) returns.
common::com_ptr<IDispatch> ListImage(IDispatch* image_list, int32_t index) {
  common::unique_variant image;
  const VARIANT position = LongArg(index);
  Call(image_list, MemberId(image_list, L"ListImages", kSource), {&position}, image.get(), kSource);
  return ToObject(*image.get(), kSource);
}

// The disabled picture of a grayed item: the image's icon, drawn at its own size in the platform's
// disabled style. The picture object, and with it the icon, is released at once.
void DrawDisabledImage(HDC hDC, IDispatch* image_list, int32_t index, int32_t x, int32_t y) {
  common::com_ptr<IDispatch> image = ListImage(image_list, index);
  common::unique_variant picture;
  Call(image.get(), MemberId(image.get(), L"ExtractIcon", kSource), {}, picture.get(), kSource);
  common::unique_variant handle;
  Call(ToObject(*picture.get(), kSource).get(), DISPID_VALUE, {}, handle.get(), kSource);
  // Icon handles are 32-bit significant, sign-extended in a 64-bit process.
  HICON icon = reinterpret_cast<HICON>(static_cast<LONG_PTR>(ToLong(*handle.get(), kSource)));
  DrawStateA(hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 32, x, y, 0, 0, DST_ICON | DSS_DISABLED);
}

// The picture of an item that is not grayed, through "Draw" with the position in twips.
void DrawImage(HDC hDC, IDispatch* image_list, int32_t index, int32_t x, int32_t y) {
  common::com_ptr<IDispatch> image = ListImage(image_list, index);
  const double twips_x = static_cast<double>(x) * static_cast<double>(common::TwipsPerPixelX());
  const double twips_y = static_cast<double>(y) * static_cast<double>(common::TwipsPerPixelY());
  const int32_t dc = static_cast<int32_t>(reinterpret_cast<LONG_PTR>(hDC));
  common::unique_variant ignored;
  const VARIANT args[] = {LongArg(dc), DoubleArg(twips_x), DoubleArg(twips_y), LongArg(kTransparentStyle)};
  Call(image.get(), MemberId(image.get(), L"Draw", kSource), {&args[0], &args[1], &args[2], &args[3]}, ignored.get(),
       kSource);
}

// The picture the painter draws itself (alpha, or another size than the list's), or null when the
// image list object draws it as it always has.
PictureCache::Picture* OwnPicture(const PaintContext& ctx, int32_t index) {
  if (!ctx.pictures || !ctx.image_list) return nullptr;
  const int32_t width = ctx.cell_width - ScalePixels(6, ctx.dpi);
  const int32_t height = ctx.cell_height - ScalePixels(6, ctx.dpi);
  PictureCache::Picture* picture = ctx.pictures->Get(ctx.image_list, index, width, height);
  return picture && picture->DrawnHere() ? picture : nullptr;
}

// The separator's etched line at high DPI: a shadow line and a light line, each thickness high.
void DrawEtchedLine(HDC hDC, const RECT& line, int32_t thickness) {
  RECT shadow = line;
  shadow.bottom = common::CheckedAdd(line.top, thickness, kSource);
  RECT light = shadow;
  light.top = shadow.bottom;
  light.bottom = common::CheckedAdd(light.top, thickness, kSource);
  DrawHelpers::FillColorRect(hDC, shadow, GetSysColor(COLOR_BTNSHADOW));
  DrawHelpers::FillColorRect(hDC, light, GetSysColor(COLOR_BTNHIGHLIGHT));
}

// The whole item in the menu highlight colour framed in the highlight colour as the platform's flat
// menus draw a selected item, or in the menu colour when the selection leaves it.
void DrawFlatHighlight(HDC hDC, const RECT& item, bool selected) {
  DrawHelpers::FillColorRect(hDC, item, GetSysColor(selected ? COLOR_MENUHILIGHT : COLOR_MENU));
  if (!selected) return;
  HBRUSH frame = GetSysColorBrush(COLOR_HIGHLIGHT);  // the system's own brush: never deleted
  FrameRect(hDC, &item, frame);
}

}  // namespace

LONG DrawMenuItem(const PaintContext& ctx, LONG_PTR lParam) {
  if (!lParam) return 0;
  DRAWITEMSTRUCT dis;
  std::memcpy(&dis, reinterpret_cast<const void*>(lParam), sizeof dis);

  // Item data is a 32-bit value: wider data is never ours, as measuring and the walk take it.
  if (dis.itemData > 0xFFFFFFFFu) return 0;
  const uint32_t data = static_cast<uint32_t>(dis.itemData);
  if (!IsOwnItemData(data) || dis.CtlType != ODT_MENU) return 0;
  const int16_t slot = ItemSlot(data);
  if (slot < 0 || slot >= kItemStoreSize || !ctx.items) common::Raise(common::errSubscriptOutOfRange, kSource);
  const ItemRecord record = ctx.items[slot];
  HDC hDC = dis.hDC;
  const RECT item = dis.rcItem;

  if (record.ItemType & MFT_SEPARATOR) {
    const int32_t thickness = ScalePixels(1, ctx.dpi);
    RECT line = item;
    line.top = Rounded(static_cast<double>(common::CheckedAdd(item.bottom, item.top, kSource)) / 2.0 - thickness);
    if (thickness == 1) {
      DrawEdge(hDC, &line, EDGE_ETCHED, BF_TOP);
    } else {
      DrawEtchedLine(hDC, line, thickness);
    }
    return 1;
  }

  const bool selected = (dis.itemState & ODS_SELECTED) != 0;
  const bool grayed = (dis.itemState & ODS_GRAYED) != 0;
  const bool checked = (dis.itemState & ODS_CHECKED) != 0;
  const bool flat_highlight = ctx.flat_menus && (selected || dis.itemAction == ODA_SELECT) && !grayed;
  bool cell_used = false;

  RECT cell;
  cell.left = item.left;
  cell.top = Rounded(
      static_cast<double>(common::CheckedSub(common::CheckedAdd(item.top, item.bottom, kSource), ctx.cell_height, kSource)) /
      2.0);
  cell.right = common::CheckedAdd(cell.left, ctx.cell_width, kSource);
  cell.bottom = common::CheckedAdd(cell.top, ctx.cell_height, kSource);

  // Flat menus: the highlight covers the whole item, the picture stands on it.
  if (flat_highlight) DrawFlatHighlight(hDC, item, selected);

  if (record.ImageIndex >= 0) {
    cell_used = true;
    const int32_t inset = ScalePixels(3, ctx.dpi);
    const int32_t x = common::CheckedAdd(cell.left, inset, kSource);
    const int32_t y = common::CheckedAdd(cell.top, inset, kSource);
    PictureCache::Picture* own = OwnPicture(ctx, record.ImageIndex);
    if (grayed) {
      if (own) DrawCachedPicture(hDC, *own, x, y, true);
      else DrawDisabledImage(hDC, ctx.image_list, record.ImageIndex, x, y);
    } else {
      if (!(flat_highlight && selected))
        DrawHelpers::FillColorRect(hDC, cell, GetSysColor(checked && !selected ? COLOR_3DLIGHT : COLOR_MENU));
      if (checked || (selected && !flat_highlight))
        DrawEdge(hDC, &cell, checked ? BDR_SUNKENINNER : BDR_RAISEDINNER, BF_RECT);
      if (own) DrawCachedPicture(hDC, *own, x, y, false);
      else DrawImage(hDC, ctx.image_list, record.ImageIndex, x, y);
    }
  } else {
    MENUITEMINFOA info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = kMenuItemInfoSize;
    info.fMask = MIIM_CHECKMARKS;
    GetMenuItemInfoA(reinterpret_cast<HMENU>(dis.hwndItem), dis.itemID, FALSE, &info);
    if (checked || info.hbmpUnchecked) {
      cell_used = DrawHelpers::DrawCheckBitmap(hDC, cell, selected, checked ? info.hbmpChecked : info.hbmpUnchecked);
    }
  }

  const COLORREF bg = GetSysColor(selected ? (ctx.flat_menus ? COLOR_MENUHILIGHT : COLOR_HIGHLIGHT) : COLOR_MENU);
  const int32_t gap = ScalePixels(2, ctx.dpi);
  if ((selected || dis.itemAction == ODA_SELECT) && !grayed && !flat_highlight) {
    RECT bar = item;
    if (cell_used) bar.left = common::CheckedAdd(common::CheckedAdd(item.left, ctx.cell_width, kSource), gap, kSource);
    DrawHelpers::FillColorRect(hDC, bar, bg);
  }

  const bool top_level = record.IsTopLevel != 0;
  RECT text = item;
  text.left = common::CheckedAdd(common::CheckedAdd(item.left, gap, kSource), gap, kSource);
  if (!top_level) {
    text.left = common::CheckedAdd(text.left, ctx.cell_width, kSource);
    text.right = common::CheckedSub(item.right, ctx.cell_width, kSource);
  }

  const COLORREF tc = GetSysColor(grayed ? COLOR_GRAYTEXT : selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT);
  // Mnemonic underlines hidden until the user presses Alt, when the system hides keyboard cues.
  const bool hide_prefix = !ctx.keyboard_cues && (dis.itemState & ODS_NOACCEL) != 0;
  SetBkMode(hDC, TRANSPARENT);
  if (grayed && (!selected || tc == bg)) {
    RECT emboss = {common::CheckedAdd(text.left, 1, kSource), common::CheckedAdd(text.top, 1, kSource),
                   common::CheckedAdd(text.right, 1, kSource), common::CheckedAdd(text.bottom, 1, kSource)};
    DrawMenuItemText(hDC, emboss, record.Caption, GetSysColor(COLOR_BTNHIGHLIGHT), top_level, hide_prefix);
  }
  DrawMenuItemText(hDC, text, record.Caption, tc, top_level, hide_prefix);
  return 1;
}

void DrawMenuItemText(HDC hDC, const RECT& rect, const std::wstring& text, COLORREF color, bool isTopLevel,
                      bool hidePrefix) {
  const UINT hidden = hidePrefix ? DT_NOPREFIX : 0;
  const UINT format = kFormatLine | (isTopLevel ? DT_CENTER : 0) | hidden;
  std::wstring before, after;
  const int32_t tab = SplitCaption(text, before, after);
  if (hidePrefix) {
    before = WithoutMnemonicMarks(before);
    after = WithoutMnemonicMarks(after);
  }
  SetTextColor(hDC, color);
  RECT r = rect;
  DrawTextA(hDC, ToAnsi(before).c_str(), -1, &r, format);
  if (tab > 0) {
    r = rect;
    DrawTextA(hDC, ToAnsi(after).c_str(), -1, &r, kFormatShortcut | hidden);
  }
}

}  // namespace glyphary
