// Painting of the owner-drawn menu items (WM_DRAWITEM): the separator's etched line, the picture
// cell, the highlight bar and the caption with its right-aligned shortcut, in the system's menu
// colours. Draws into whatever device context the DRAWITEMSTRUCT lends; keeps no state.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>

#include "item_record.h"

namespace glyphary {

// What the painter reads of the component.
struct PaintContext {
  const ItemRecord* items = nullptr;  // the item store, kItemStoreSize slots
  int32_t cell_width = 16;            // the picture cell: image size + 6 each way
  int32_t cell_height = 16;
  IDispatch* image_list = nullptr;    // the client's image list object; may be null while no item has a picture
};

// Paints the item whose DRAWITEMSTRUCT is at lParam. Returns 1 when the item is one of ours and has
// been painted, 0 when it is not (nothing is drawn then). Raises error 9 for a slot outside the
// store; errors of the image list object reach the caller with the item partly painted.
LONG DrawMenuItem(const PaintContext& ctx, LONG_PTR lParam);

// Draws text into rect in color: the part before the first TAB left-aligned (centred for a menu-bar
// item), the part after it right-aligned, both vertically centred. "&" underlines the next character.
void DrawMenuItemText(HDC hDC, const RECT& rect, const std::wstring& text, COLORREF color, bool isTopLevel);

}  // namespace glyphary
