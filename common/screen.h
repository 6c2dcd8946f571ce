// The screen's twips per pixel, as the automation runtime's screen object reports them.
#pragma once
#include <windows.h>

namespace common {

namespace screen_detail {

// The screen's logical resolution is fixed for the life of a process (a change of the system's
// setting reaches programs started afterwards), so it is read once: reading it borrows the
// screen's device context, a round trip to the window server on every call.
inline int LogicalPixels(int index) {
  HDC dc = GetDC(nullptr);
  const int dpi = dc ? GetDeviceCaps(dc, index) : 0;
  if (dc) ReleaseDC(nullptr, dc);
  return dpi;
}

inline float TwipsPerPixel(int dpi) { return dpi > 0 ? 1440.0f / static_cast<float>(dpi) : 15.0f; }

}  // namespace screen_detail

inline float TwipsPerPixelX() {
  static const float value = screen_detail::TwipsPerPixel(screen_detail::LogicalPixels(LOGPIXELSX));
  return value;
}

inline float TwipsPerPixelY() {
  static const float value = screen_detail::TwipsPerPixel(screen_detail::LogicalPixels(LOGPIXELSY));
  return value;
}

}  // namespace common
