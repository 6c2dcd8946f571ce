// Module DrawHelpers: the two stateless drawing routines the item painter uses on the device context
// of the menu item being painted. Each creates its own GDI objects, puts back whatever it selected
// into the caller's context and deletes what it created before it returns.
#pragma once
#include <windows.h>

namespace glyphary::DrawHelpers {

// Fills left..right-1 by top..bottom-1 of rect with color (a solid brush and PATCOPY).
void FillColorRect(HDC hDC, const RECT& rect, COLORREF color);

// Draws bitmap centred in the picture cell and frames the cell with a sunken inner edge. bitmap 0
// stands for the platform's standard check mark, loaded and deleted within the call. A monochrome
// bitmap shows its white pixels in COLOR_MENU when selected (COLOR_3DLIGHT otherwise) and its black
// pixels in the context's current text colour. Always returns true. Raises error 6 when a coordinate
// sum leaves the 32-bit range.
bool DrawCheckBitmap(HDC hDC, const RECT& cell, bool selected, HBITMAP bitmap);

}  // namespace glyphary::DrawHelpers
