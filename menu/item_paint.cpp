#include "item_paint.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <vector>

#include "caption.h"
#include "checked_math.h"
#include "com_ptr.h"
#include "dpi_scale.h"
#include "draw_helpers.h"
#include "late_bound.h"
#include "runtime_error.h"
#include "screen.h"
#include "unique_handles.h"
#include "variant_args.h"

namespace glyphary {

namespace {

constexpr const wchar_t* kSource = L"Glyphary.CGlyphary";

constexpr UINT kFormatLine = DT_SINGLELINE | DT_VCENTER;               // 0x24
constexpr UINT kFormatShortcut = DT_RIGHT | DT_VCENTER | DT_SINGLELINE;  // 0x26
constexpr LONG_PTR kTransparentStyle = 1;                                 // "Draw" style: transparent
constexpr WORD kStandardCheckMark = 32760;                                // OBM_CHECK

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

// What a menu looks like behind its items: its own background brush (MENUINFO.hbrBack, a dark menu
// for instance) or COLOR_MENU, a text colour readable on it, and whether the item starts a column
// divided from the one before (MFT_MENUBARBREAK on the first item of its column).
struct MenuLook {
  HBRUSH brush = nullptr;  // the menu's, never deleted here
  COLORREF background = 0;
  COLORREF text = 0;
  bool divided_column = false;
};

int Brightness(COLORREF c) { return (GetRValue(c) * 299 + GetGValue(c) * 587 + GetBValue(c) * 114) / 1000; }

bool DividedColumn(HMENU menu, const ItemRecord& record, UINT id) {
  if (record.ItemType & MFT_MENUBARBREAK) return true;
  const int count = GetMenuItemCount(menu);
  int position = -1;
  for (int i = 0; i < count && position < 0; ++i)
    if (GetMenuItemID(menu, i) == id) position = i;
  for (int i = position; i >= 0; --i) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_FTYPE;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mii)) return false;
    if (mii.fType & MFT_MENUBARBREAK) return true;
    if (mii.fType & MFT_MENUBREAK) return false;
  }
  return false;
}

MenuLook LookOf(HMENU menu, const ItemRecord& record, UINT id) {
  MenuLook look;
  look.background = GetSysColor(COLOR_MENU);
  look.text = GetSysColor(COLOR_MENUTEXT);
  MENUINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIM_BACKGROUND;
  if (menu && GetMenuInfo(menu, &info) && info.hbrBack) {
    LOGBRUSH lb{};
    look.brush = info.hbrBack;
    if (GetObjectW(info.hbrBack, sizeof lb, &lb) == sizeof lb && lb.lbStyle == BS_SOLID) look.background = lb.lbColor;
    // The menu text colour where it stands out from the background, else black or white.
    if (std::abs(Brightness(look.text) - Brightness(look.background)) < 100)
      look.text = Brightness(look.background) < 128 ? RGB(255, 255, 255) : RGB(0, 0, 0);
  }
  if (menu && !record.IsTopLevel) look.divided_column = DividedColumn(menu, record, id);
  return look;
}

// The platform's check mark scaled to dpi, or a round bullet for a radio item, as a monochrome
// bitmap (black mark on white) that the caller deletes.
HBITMAP StandardMark(bool radio, uint32_t dpi) {
  common::unique_hbitmap check(static_cast<HBITMAP>(LoadBitmapW(nullptr, MAKEINTRESOURCEW(kStandardCheckMark))));
  BITMAP bm{};
  if (!check || !GetObjectW(check.get(), sizeof bm, &bm)) return nullptr;
  const int32_t w = ScalePixels(bm.bmWidth, dpi), h = ScalePixels(bm.bmHeight, dpi);
  HBITMAP mark = CreateBitmap(w, h, 1, 1, nullptr);
  if (!mark) return nullptr;
  common::unique_hdc dc(CreateCompatibleDC(nullptr));
  common::unique_select_object selected(dc.get(), mark);
  PatBlt(dc.get(), 0, 0, w, h, WHITENESS);
  if (radio) {
    // A disc of a third of the mark's size, symmetric in both directions.
    const int32_t d = std::max(4, (std::min(w, h) + 1) / 3 + 1);
    const double c = (d - 1) / 2.0, r2 = (d / 2.0) * (d / 2.0);
    const int32_t x0 = (w - d) / 2, y0 = (h - d) / 2;
    for (int32_t y = 0; y < d; ++y)
      for (int32_t x = 0; x < d; ++x)
        if ((x - c) * (x - c) + (y - c) * (y - c) <= r2) SetPixelV(dc.get(), x0 + x, y0 + y, RGB(0, 0, 0));
  } else {
    common::unique_hdc source(CreateCompatibleDC(nullptr));
    common::unique_select_object from(source.get(), check.get());
    SetStretchBltMode(dc.get(), COLORONCOLOR);
    StretchBlt(dc.get(), 0, 0, w, h, source.get(), 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
  }
  return mark;
}

// The application's own item bitmap (hbmpItem) centred in the cell: the caption-button pictures
// the platform names (HBMMENU_POPUP_*), or a bitmap of the application's. Other names (the window
// icon, a bitmap drawn by the application itself) are left out. Whether something was drawn.
bool DrawItemBitmap(HDC hDC, const RECT& cell, HBITMAP bitmap, int32_t inset) {
  const auto value = reinterpret_cast<INT_PTR>(bitmap);
  if (value >= 8 && value <= 11) {  // HBMMENU_POPUP_CLOSE, _RESTORE, _MAXIMIZE, _MINIMIZE
    static const UINT kinds[] = {DFCS_CAPTIONCLOSE, DFCS_CAPTIONRESTORE, DFCS_CAPTIONMAX, DFCS_CAPTIONMIN};
    RECT r{cell.left + inset, cell.top + inset, cell.right - inset, cell.bottom - inset};
    DrawFrameControl(hDC, &r, DFC_CAPTION, kinds[value - 8]);
    return true;
  }
  if (value >= -1 && value <= 11) return false;
  BITMAP bm{};
  if (!GetObjectW(bitmap, sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0) return false;
  const int32_t cw = cell.right - cell.left, ch = cell.bottom - cell.top;
  const int32_t w = std::min<int32_t>(bm.bmWidth, cw), h = std::min<int32_t>(bm.bmHeight, ch);
  common::unique_hdc memory(CreateCompatibleDC(hDC));
  common::unique_select_object in_memory(memory.get(), bitmap);
  BitBlt(hDC, cell.left + (cw - w) / 2, cell.top + (ch - h) / 2, w, h, memory.get(), (bm.bmWidth - w) / 2,
         (bm.bmHeight - h) / 2, SRCCOPY);
  return true;
}

// Selects a bold copy of the context's font for the life of the object (when asked to).
class BoldFont {
 public:
  BoldFont(HDC dc, bool bold) : dc_(dc) {
    if (!bold) return;
    LOGFONTW lf{};
    if (!GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof lf, &lf)) return;
    lf.lfWeight = FW_BOLD;
    font_.reset(CreateFontIndirectW(&lf));
    if (font_) old_ = SelectObject(dc, font_.get());
  }
  BoldFont(const BoldFont&) = delete;
  BoldFont& operator=(const BoldFont&) = delete;
  ~BoldFont() {
    if (old_) SelectObject(dc_, old_);
  }

 private:
  HDC dc_;
  common::unique_hfont font_;
  HGDIOBJ old_ = nullptr;
};

// The whole item in the menu highlight colour framed in the highlight colour as the platform's flat
// menus draw a selected item, or in the menu's background when the selection leaves it.
void DrawFlatHighlight(HDC hDC, const RECT& item, bool selected, const MenuLook& look) {
  if (!selected && look.brush) FillRect(hDC, &item, look.brush);
  else DrawHelpers::FillColorRect(hDC, item, selected ? GetSysColor(COLOR_MENUHILIGHT) : look.background);
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
  const bool top_level = record.IsTopLevel != 0;
  // A bar item the pointer is over: feedback without opening it.
  const bool hot = top_level && !selected && (dis.itemState & ODS_HOTLIGHT) != 0;
  // The bar of a window that is not active is drawn grey.
  const bool inactive = (dis.itemState & ODS_INACTIVE) != 0 && !selected;
  // The selection shows on grayed items too: the keyboard user must see where it is.
  const bool flat_highlight = ctx.flat_menus && (selected || dis.itemAction == ODA_SELECT || hot);
  const HMENU menu = reinterpret_cast<HMENU>(dis.hwndItem);
  const MenuLook look = LookOf(menu, record, dis.itemID);
  // Right to left in a context that is not mirrored: the cell goes to the right edge. A mirrored
  // context (a mirrored form) flips everything itself.
  const bool mirrored = (GetLayout(hDC) & LAYOUT_RTL) != 0;
  const bool right_to_left = (record.ItemType & MFT_RIGHTORDER) != 0 || mirrored;
  const bool cell_at_right = (record.ItemType & MFT_RIGHTORDER) != 0 && !mirrored;
  auto place = [&](RECT r) {
    if (!cell_at_right) return r;
    const LONG sum = common::CheckedAdd(item.left, item.right, kSource);
    return RECT{common::CheckedSub(sum, r.right, kSource), r.top, common::CheckedSub(sum, r.left, kSource), r.bottom};
  };
  bool cell_used = false;

  // A new column divided from the one before: an etched line down the column's edge.
  RECT area = item;
  if (!top_level && look.divided_column) {
    const int32_t t = ScalePixels(1, ctx.dpi);
    const RECT line = place(RECT{item.left, item.top, common::CheckedAdd(item.left, t, kSource), item.bottom});
    const RECT light = place(RECT{line.right, item.top, common::CheckedAdd(line.right, t, kSource), item.bottom});
    DrawHelpers::FillColorRect(hDC, line, GetSysColor(COLOR_BTNSHADOW));
    DrawHelpers::FillColorRect(hDC, light, GetSysColor(COLOR_BTNHIGHLIGHT));
    area.left = common::CheckedAdd(area.left, 2 * t, kSource);
  }

  RECT cell;
  cell.left = area.left;
  cell.top = Rounded(
      static_cast<double>(common::CheckedSub(common::CheckedAdd(item.top, item.bottom, kSource), ctx.cell_height, kSource)) /
      2.0);
  cell.right = common::CheckedAdd(cell.left, ctx.cell_width, kSource);
  cell.bottom = common::CheckedAdd(cell.top, ctx.cell_height, kSource);
  cell = place(cell);

  // Flat menus: the highlight covers the whole item, the picture stands on it.
  if (flat_highlight) DrawFlatHighlight(hDC, place(area), selected || hot, look);
  else if (hot) DrawEdge(hDC, const_cast<RECT*>(&item), BDR_RAISEDINNER, BF_RECT);

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
    MENUITEMINFOW info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = MIIM_CHECKMARKS | MIIM_BITMAP;
    GetMenuItemInfoW(menu, dis.itemID, FALSE, &info);
    if (checked || info.hbmpUnchecked) {
      HBITMAP mark = checked ? info.hbmpChecked : info.hbmpUnchecked;
      common::unique_hbitmap standard;
      // The platform's mark at this DPI, or a bullet for a radio item.
      const bool radio = (record.ItemType & MFT_RADIOCHECK) != 0;
      if (!mark && (radio || ctx.dpi != kBaseDpi)) {
        standard.reset(StandardMark(radio, ctx.dpi));
        mark = standard.get();
      }
      // The mark in the menu's text colour on the cell, whatever colour the context came with.
      SetTextColor(hDC, GetSysColor(COLOR_MENUTEXT));
      cell_used = DrawHelpers::DrawCheckBitmap(hDC, cell, selected, mark);
    } else if (info.hbmpItem) {
      cell_used = DrawItemBitmap(hDC, cell, info.hbmpItem, ScalePixels(2, ctx.dpi));
    }
  }

  const COLORREF bg = selected ? GetSysColor(ctx.flat_menus ? COLOR_MENUHILIGHT : COLOR_HIGHLIGHT) : look.background;
  const int32_t gap = ScalePixels(2, ctx.dpi);
  if ((selected || dis.itemAction == ODA_SELECT) && !flat_highlight) {
    RECT bar = area;
    if (cell_used) bar.left = common::CheckedAdd(common::CheckedAdd(area.left, ctx.cell_width, kSource), gap, kSource);
    bar = place(bar);
    // Leaving the selection: the menu's own background, its brush where it has one.
    if (!selected && look.brush) FillRect(hDC, &bar, look.brush);
    else DrawHelpers::FillColorRect(hDC, bar, bg);
  }

  RECT text = area;
  text.left = common::CheckedAdd(common::CheckedAdd(area.left, gap, kSource), gap, kSource);
  if (!top_level) {
    text.left = common::CheckedAdd(text.left, ctx.cell_width, kSource);
    text.right = common::CheckedSub(area.right, ctx.cell_width, kSource);
  }
  text = place(text);

  const COLORREF tc = grayed || inactive             ? GetSysColor(COLOR_GRAYTEXT)
                      : selected || (hot && ctx.flat_menus) ? GetSysColor(COLOR_HIGHLIGHTTEXT)
                                                            : look.text;
  // Mnemonic underlines hidden until the user presses Alt, when the system hides keyboard cues.
  const bool hide_prefix = !ctx.keyboard_cues && (dis.itemState & ODS_NOACCEL) != 0;
  SetBkMode(hDC, TRANSPARENT);
  // The default item of a menu is bold.
  BoldFont bold(hDC, ctx.default_item || (dis.itemState & ODS_DEFAULT) != 0);
  if (grayed && (!selected || tc == bg)) {
    RECT emboss = {common::CheckedAdd(text.left, 1, kSource), common::CheckedAdd(text.top, 1, kSource),
                   common::CheckedAdd(text.right, 1, kSource), common::CheckedAdd(text.bottom, 1, kSource)};
    DrawMenuItemText(hDC, emboss, record.Caption, GetSysColor(COLOR_BTNHIGHLIGHT), top_level, hide_prefix,
                     right_to_left);
  }
  DrawMenuItemText(hDC, text, record.Caption, tc, top_level, hide_prefix, right_to_left);
  return 1;
}

void DrawMenuItemText(HDC hDC, const RECT& rect, const std::wstring& text, COLORREF color, bool isTopLevel,
                      bool hidePrefix, bool rightToLeft) {
  const UINT hidden = hidePrefix ? DT_NOPREFIX : 0;
  // Right to left: the caption against the right edge, read right to left, the shortcut at the left.
  const UINT reading = rightToLeft ? DT_RTLREADING : 0;
  const UINT format = kFormatLine | (isTopLevel ? DT_CENTER : rightToLeft ? DT_RIGHT : 0) | hidden | reading;
  const UINT shortcut_format = rightToLeft ? (DT_LEFT | DT_VCENTER | DT_SINGLELINE | reading) : kFormatShortcut;
  std::wstring before, after;
  const int32_t tab = SplitCaption(text, before, after);
  if (hidePrefix) {
    before = WithoutMnemonicMarks(before);
    after = WithoutMnemonicMarks(after);
  }
  SetTextColor(hDC, color);
  RECT r = rect;
  DrawTextW(hDC, before.c_str(), static_cast<int>(before.size()), &r, format);
  if (tab > 0) {
    r = rect;
    DrawTextW(hDC, after.c_str(), static_cast<int>(after.size()), &r, shortcut_format | hidden);
  }
}

}  // namespace glyphary
