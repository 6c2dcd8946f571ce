// Pictures the painter draws itself rather than through the image list object's "Draw": those
// whose icon carries an alpha channel (blended per pixel) and those drawn at another size than the
// list's (scaled with bilinear filtering in premultiplied colour, so edges fade into the background
// instead of turning black or blocky). Each picture is read once through "ListImages"(i).ExtractIcon
// and kept at the size it is drawn at; the cache owns every bitmap and icon it makes.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "unique_handles.h"

namespace glyphary {

class PictureCache {
 public:
  struct Picture {
    bool has_alpha = false;   // the icon's colour carried an alpha channel
    int32_t source_width = 0;
    int32_t source_height = 0;
    int32_t width = 0;        // as drawn
    int32_t height = 0;
    std::vector<uint32_t> pixels;        // premultiplied BGRA, top-down, width x height
    common::unique_hbitmap normal;       // pixels as a 32-bit DIB section, made on first draw
    common::unique_hbitmap faded;        // the disabled look of an alpha picture
    common::unique_hicon embossable;     // an icon of the scaled picture for the platform's disabled style
    // Whether the painter draws it (alpha or scaled); otherwise the image list object does, as ever.
    bool DrawnHere() const { return has_alpha || source_width != width || source_height != height; }
  };

  // The picture at index of image_list drawn at width x height; null when the image list gives no
  // usable icon for it (the caller then keeps to the image list's own drawing).
  Picture* Get(IDispatch* image_list, int32_t index, int32_t width, int32_t height);
  void Clear() { pictures_.clear(); }
  size_t size() const { return pictures_.size(); }

 private:
  std::map<std::tuple<int32_t, int32_t, int32_t>, std::unique_ptr<Picture>> pictures_;
};

// Draws picture with its top-left corner at x, y: blended per pixel; disabled, an alpha picture is
// a faded grey version of itself and any other picture is embossed in the platform's disabled style.
void DrawCachedPicture(HDC hDC, PictureCache::Picture& picture, int32_t x, int32_t y, bool disabled);

// Bilinear resampling of premultiplied BGRA pixels (top-down), pixel centres mapped onto each other.
std::vector<uint32_t> ResamplePremultiplied(const std::vector<uint32_t>& source, int32_t sw, int32_t sh, int32_t dw,
                                            int32_t dh);

// The disabled look of an alpha picture: each pixel the grey of its own brightness, at kFadedAlpha
// of its opacity (premultiplied in, premultiplied out).
constexpr uint32_t kFadedAlpha = 110;  // of 255
std::vector<uint32_t> FadedGrey(const std::vector<uint32_t>& premultiplied);

}  // namespace glyphary
