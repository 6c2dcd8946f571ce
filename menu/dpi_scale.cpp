#include "dpi_scale.h"

#include <algorithm>

#include "runtime_error.h"

namespace glyphary {

namespace {

constexpr const wchar_t* kSource = L"Glyphary.CGlyphary";

// Functions that only newer platforms export, looked up once.
template <typename F>
F User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);

}  // namespace

int32_t ScalePixels(int32_t length, uint32_t dpi) {
  if (dpi == kBaseDpi || dpi == 0) return length;
  const int64_t n = static_cast<int64_t>(length) * static_cast<int64_t>(dpi);
  int64_t q = n / kBaseDpi;
  int64_t r = n % kBaseDpi;
  if (r < 0) {  // floor division for negative lengths
    r += kBaseDpi;
    --q;
  }
  if (2 * r > static_cast<int64_t>(kBaseDpi) || (2 * r == static_cast<int64_t>(kBaseDpi) && (q & 1))) ++q;
  if (q < INT32_MIN || q > INT32_MAX) common::Raise(common::errOverflow, kSource);
  return static_cast<int32_t>(q);
}

uint32_t SystemDpi() {
  // Fixed for the life of the process (a new setting reaches programs started afterwards).
  static const uint32_t system_dpi = [] {
    HDC dc = GetDC(nullptr);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc) ReleaseDC(nullptr, dc);
    return dpi > 0 ? static_cast<uint32_t>(dpi) : kBaseDpi;
  }();
  return system_dpi;
}

uint32_t WindowDpi(HWND window) {
  static const auto for_window = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (window && for_window) {
    const UINT dpi = for_window(window);
    if (dpi) return dpi;
  }
  return SystemDpi();
}

int32_t MenuBarHeight(uint32_t dpi) {
  if (dpi == SystemDpi()) return GetSystemMetrics(SM_CYMENU);
  static const auto for_dpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  if (for_dpi) {
    const int h = for_dpi(SM_CYMENU, dpi);
    if (h > 0) return h;
  }
  return MulDiv(GetSystemMetrics(SM_CYMENU), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

int32_t PictureSide(int32_t list_size, uint32_t dpi) {
  if (dpi == kBaseDpi) return list_size;
  return std::max(list_size, ScalePixels(std::min(list_size, 16), dpi));
}

bool KeyboardCuesShown() {
  BOOL shown = TRUE;
  if (!SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &shown, 0)) return true;
  return shown != FALSE;
}

bool ScreenReaderRunning() {
  BOOL running = FALSE;
  if (!SystemParametersInfoW(SPI_GETSCREENREADER, 0, &running, 0)) return false;
  return running != FALSE;
}

bool FlatMenus() {
  BOOL flat = FALSE;
  if (!SystemParametersInfoW(SPI_GETFLATMENU, 0, &flat, 0)) return false;
  return flat != FALSE;
}

}  // namespace glyphary
