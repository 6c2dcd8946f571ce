// Painting of the owner-drawn menu items (WM_DRAWITEM): the separator's etched line, the picture
// cell, the highlight bar and the caption with its right-aligned shortcut, in the system's menu
// colours. Draws into whatever device context the DRAWITEMSTRUCT lends; keeps no state.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>

#include "item_record.h"
#include "picture_cache.h"

namespace glyphary {

// What the painter reads of the component.
struct PaintContext {
  const ItemRecord* items = nullptr;  // the item store, kItemStoreSize slots
  int32_t cell_width = 16;            // the picture cell: image size + 6 each way
  int32_t cell_height = 16;
  IDispatch* image_list = nullptr;    // the client's image list object; may be null while no item has a picture

  // High DPI, alpha pictures and the system's menu settings. The defaults draw as at 96 DPI with the
  // classic look and every picture through the image list object.
  uint32_t dpi = 96;                  // gaps and lines scale from 96 DPI; the cell is given above
  PictureCache* pictures = nullptr;   // pictures with alpha or drawn at another size; null: none
  bool keyboard_cues = true;          // false: ODS_NOACCEL hides the mnemonic underlines
  bool flat_menus = false;            // the highlight as flat menus draw it (COLOR_MENUHILIGHT, framed)
  bool default_item = false;          // the item is its menu's default item (bold), ODS_DEFAULT or not
};

// Paints the item whose DRAWITEMSTRUCT is at lParam. Returns 1 when the item is one of ours and has
// been painted, 0 when it is not (nothing is drawn then). Raises error 9 for a slot outside the
// store; errors of the image list object reach the caller with the item partly painted.
LONG DrawMenuItem(const PaintContext& ctx, LONG_PTR lParam);

// Draws text into rect in color: the part before the first TAB left-aligned (centred for a menu-bar
// item), the part after it right-aligned, both vertically centred. "&" underlines the next character.
// hidePrefix leaves the underline out (the "&" still marks nothing visible).
// rightToLeft: the caption right-aligned in right-to-left reading order, the shortcut at the left.
void DrawMenuItemText(HDC hDC, const RECT& rect, const std::wstring& text, COLORREF color, bool isTopLevel,
                      bool hidePrefix = false, bool rightToLeft = false);

}  // namespace glyphary
