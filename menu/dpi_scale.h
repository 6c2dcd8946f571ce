// The dots per inch the menus are drawn at, and the numbers that follow from them. Every length of
// the menu layout is given for 96 dots per inch and scaled from there, rounded to the nearest
// pixel with exact halves going to the even one. The DPI is read from the form's window (its own
// DPI where the platform knows per-window DPI, otherwise the screen's), or handed in directly.
#pragma once
#include <windows.h>

#include <cstdint>

namespace glyphary {

constexpr uint32_t kBaseDpi = 96;

// length (pixels at 96 DPI) at dpi. Exact integer arithmetic: no floating-point rounding mode is
// involved. Raises error 6 when the result leaves the 32-bit range.
int32_t ScalePixels(int32_t length, uint32_t dpi);

// The DPI of window: GetDpiForWindow where the platform has it, else the screen's LOGPIXELSY.
uint32_t WindowDpi(HWND window);
// The screen's LOGPIXELSY as this process sees it (the system DPI).
uint32_t SystemDpi();

// The menu bar height (SM_CYMENU) at dpi: the platform's own figure for that DPI where it can
// give one, the system figure scaled otherwise.
int32_t MenuBarHeight(uint32_t dpi);

// The side of the picture drawn for a list picture of list_size pixels: the list's own size when it
// is at least a 16-pixel (or smaller) picture scaled to dpi, else that scaled size. So a 16 x 16 list
// is drawn at 24 at 144 DPI, a 24 x 24 or 32 x 32 list at its own size; at 96 DPI always its own.
int32_t PictureSide(int32_t list_size, uint32_t dpi);

// The system's keyboard-cue and flat-menu settings (SPI_GETKEYBOARDCUES, SPI_GETFLATMENU).
bool KeyboardCuesShown();
bool FlatMenus();
// Whether the system says a screen reader runs (SPI_GETSCREENREADER).
bool ScreenReaderRunning();

}  // namespace glyphary
