// The screen's twips per pixel, as the automation runtime's screen object reports them.
#pragma once
#include <windows.h>

namespace common {

inline float TwipsPerPixelX() {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? 1440.0f / static_cast<float>(dpi) : 15.0f;
}

inline float TwipsPerPixelY() {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? 1440.0f / static_cast<float>(dpi) : 15.0f;
}

}  // namespace common
