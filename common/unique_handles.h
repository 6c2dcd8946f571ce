// One small owner per acquire/release pair of the platform, named after the call that acquires.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <utility>

namespace common {

template <typename H, typename Traits>
class unique_handle {
 public:
  unique_handle() noexcept = default;
  explicit unique_handle(H h) noexcept : h_(h) {}
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  unique_handle(unique_handle&& o) noexcept : h_(std::exchange(o.h_, H{})) {}
  unique_handle& operator=(unique_handle&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, H{}));
    return *this;
  }
  ~unique_handle() { reset(); }
  void reset(H h = H{}) noexcept {
    if (h_) Traits::close(h_);
    h_ = h;
  }
  H get() const noexcept { return h_; }
  H release() noexcept { return std::exchange(h_, H{}); }
  explicit operator bool() const noexcept { return h_ != H{}; }

 private:
  H h_{};
};

struct gdi_traits {
  static void close(HGDIOBJ h) noexcept { DeleteObject(h); }
};
struct dc_traits {
  static void close(HDC h) noexcept { DeleteDC(h); }
};
struct icon_traits {
  static void close(HICON h) noexcept { DestroyIcon(h); }
};
struct handle_traits {
  static void close(HANDLE h) noexcept { CloseHandle(h); }
};
struct menu_traits {
  static void close(HMENU h) noexcept { DestroyMenu(h); }
};
struct window_traits {
  static void close(HWND h) noexcept { DestroyWindow(h); }
};
struct imagelist_traits {
  static void close(HIMAGELIST h) noexcept { ImageList_Destroy(h); }
};
struct hkey_traits {
  static void close(HKEY h) noexcept { RegCloseKey(h); }
};

using unique_hfont = unique_handle<HFONT, gdi_traits>;
using unique_hbrush = unique_handle<HBRUSH, gdi_traits>;
using unique_hpen = unique_handle<HPEN, gdi_traits>;
using unique_hbitmap = unique_handle<HBITMAP, gdi_traits>;
using unique_hrgn = unique_handle<HRGN, gdi_traits>;
using unique_hdc = unique_handle<HDC, dc_traits>;  // CreateCompatibleDC / DeleteDC
using unique_hicon = unique_handle<HICON, icon_traits>;
using unique_handle_close = unique_handle<HANDLE, handle_traits>;
using unique_hmenu = unique_handle<HMENU, menu_traits>;
using unique_hwnd = unique_handle<HWND, window_traits>;
using unique_himagelist = unique_handle<HIMAGELIST, imagelist_traits>;
using unique_hkey = unique_handle<HKEY, hkey_traits>;

// GetDC / ReleaseDC.
class unique_hdc_window {
 public:
  explicit unique_hdc_window(HWND w) noexcept : w_(w), dc_(GetDC(w)) {}
  unique_hdc_window(const unique_hdc_window&) = delete;
  unique_hdc_window& operator=(const unique_hdc_window&) = delete;
  ~unique_hdc_window() {
    if (dc_) ReleaseDC(w_, dc_);
  }
  HDC get() const noexcept { return dc_; }

 private:
  HWND w_;
  HDC dc_;
};

// SelectObject that puts back what it replaced.
class unique_select_object {
 public:
  unique_select_object(HDC dc, HGDIOBJ obj) noexcept : dc_(dc), old_(SelectObject(dc, obj)) {}
  unique_select_object(const unique_select_object&) = delete;
  unique_select_object& operator=(const unique_select_object&) = delete;
  ~unique_select_object() {
    if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace common
