#include "picture_cache.h"

#include <algorithm>
#include <cmath>

#include "com_ptr.h"
#include "late_bound.h"
#include "runtime_error.h"
#include "variant_args.h"

namespace glyphary {

namespace {

constexpr const wchar_t* kSource = L"Glyphary.CGlyphary";
constexpr int32_t kLargestIcon = 1024;

// width x height pixels, the product taken in 64 bits.
size_t PixelCount(int32_t width, int32_t height) {
  return static_cast<size_t>(static_cast<uint64_t>(static_cast<uint32_t>(width)) * static_cast<uint32_t>(height));
}

BITMAPINFO TopDown32(int32_t width, int32_t height) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  return bi;
}

// The 32-bit pixels of bitmap (any format), top-down.
bool ReadPixels(HBITMAP bitmap, int32_t width, int32_t height, std::vector<uint32_t>& out) {
  BITMAPINFO bi = TopDown32(width, height);
  out.assign(PixelCount(width, height), 0);
  common::unique_hdc_window screen(nullptr);
  return GetDIBits(screen.get(), bitmap, 0, static_cast<UINT>(height), out.data(), &bi, DIB_RGB_COLORS) == height;
}

// The icon's picture as premultiplied BGRA: its own alpha where its colour has one, else opaque
// where the mask is black.
bool ReadIcon(HICON icon, PictureCache::Picture& picture) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return false;
  common::unique_hbitmap color(info.hbmColor), mask(info.hbmMask);
  if (!color || !mask) return false;
  BITMAP bm{};
  // An icon is at most as large as the largest picture an image list may have (drawn at up to
  // twice that size): anything else is not read, and no size product can overflow.
  if (!GetObjectW(color.get(), sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0 ||
      bm.bmWidth > kLargestIcon || bm.bmHeight > kLargestIcon)
    return false;
  const int32_t w = bm.bmWidth, h = bm.bmHeight;
  std::vector<uint32_t> rgb, and_mask;
  if (!ReadPixels(color.get(), w, h, rgb) || !ReadPixels(mask.get(), w, h, and_mask)) return false;
  bool alpha = false;
  if (bm.bmBitsPixel == 32)
    for (uint32_t p : rgb) alpha = alpha || (p >> 24) != 0;
  for (size_t i = 0; i < rgb.size(); ++i) {
    const uint32_t p = rgb[i];
    const uint32_t a = alpha ? p >> 24 : ((and_mask[i] & 0xFFFFFF) ? 0 : 255);
    const uint32_t b = (p & 0xFF) * a / 255, g = ((p >> 8) & 0xFF) * a / 255, r = ((p >> 16) & 0xFF) * a / 255;
    rgb[i] = (a << 24) | (r << 16) | (g << 8) | b;
  }
  picture.has_alpha = alpha;
  picture.source_width = w;
  picture.source_height = h;
  picture.pixels = std::move(rgb);
  return true;
}

HBITMAP MakeDib(const std::vector<uint32_t>& pixels, int32_t width, int32_t height) {
  BITMAPINFO bi = TopDown32(width, height);
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib && bits) std::copy(pixels.begin(), pixels.end(), static_cast<uint32_t*>(bits));
  return dib;
}

// An icon of a scaled picture without alpha: the colour where at least half opaque, the rest masked.
HICON MakeHardIcon(const std::vector<uint32_t>& premultiplied, int32_t width, int32_t height) {
  std::vector<uint32_t> color(premultiplied.size()), mask(premultiplied.size());
  for (size_t i = 0; i < premultiplied.size(); ++i) {
    const uint32_t p = premultiplied[i], a = p >> 24;
    if (a >= 128) {
      const uint32_t b = (p & 0xFF) * 255 / a, g = ((p >> 8) & 0xFF) * 255 / a, r = ((p >> 16) & 0xFF) * 255 / a;
      color[i] = (std::min(r, 255u) << 16) | (std::min(g, 255u) << 8) | std::min(b, 255u);
      mask[i] = 0;
    } else {
      color[i] = 0;
      mask[i] = 0xFFFFFF;
    }
  }
  common::unique_hbitmap c(MakeDib(color, width, height)), m(MakeDib(mask, width, height));
  if (!c || !m) return nullptr;
  ICONINFO info{TRUE, 0, 0, m.get(), c.get()};
  return CreateIconIndirect(&info);
}

}  // namespace

std::vector<uint32_t> ResamplePremultiplied(const std::vector<uint32_t>& source, int32_t sw, int32_t sh, int32_t dw,
                                            int32_t dh) {
  std::vector<uint32_t> out(static_cast<size_t>(dw) * static_cast<size_t>(dh));
  auto at = [&](int32_t x, int32_t y) {
    x = std::clamp(x, 0, sw - 1);
    y = std::clamp(y, 0, sh - 1);
    return source[static_cast<size_t>(y) * static_cast<size_t>(sw) + static_cast<size_t>(x)];
  };
  for (int32_t y = 0; y < dh; ++y) {
    const double fy = (y + 0.5) * sh / dh - 0.5;
    const int32_t y0 = static_cast<int32_t>(std::floor(fy));
    const double ty = fy - y0;
    for (int32_t x = 0; x < dw; ++x) {
      const double fx = (x + 0.5) * sw / dw - 0.5;
      const int32_t x0 = static_cast<int32_t>(std::floor(fx));
      const double tx = fx - x0;
      const uint32_t p[4] = {at(x0, y0), at(x0 + 1, y0), at(x0, y0 + 1), at(x0 + 1, y0 + 1)};
      const double wgt[4] = {(1 - tx) * (1 - ty), tx * (1 - ty), (1 - tx) * ty, tx * ty};
      uint32_t result = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        double v = 0;
        for (int k = 0; k < 4; ++k) v += wgt[k] * ((p[k] >> shift) & 0xFF);
        result |= static_cast<uint32_t>(std::clamp(static_cast<int>(v + 0.5), 0, 255)) << shift;
      }
      out[static_cast<size_t>(y) * static_cast<size_t>(dw) + static_cast<size_t>(x)] = result;
    }
  }
  return out;
}

std::vector<uint32_t> FadedGrey(const std::vector<uint32_t>& premultiplied) {
  std::vector<uint32_t> out(premultiplied.size());
  for (size_t i = 0; i < premultiplied.size(); ++i) {
    const uint32_t p = premultiplied[i];
    // Brightness of the premultiplied colour is the premultiplied brightness.
    const uint32_t grey = ((p >> 16 & 0xFF) * 77 + (p >> 8 & 0xFF) * 150 + (p & 0xFF) * 29) >> 8;
    const uint32_t a = (p >> 24) * kFadedAlpha / 255;
    const uint32_t g = grey * kFadedAlpha / 255;
    out[i] = (a << 24) | (g << 16) | (g << 8) | g;
  }
  return out;
}

PictureCache::Picture* PictureCache::Get(IDispatch* image_list, int32_t index, int32_t width, int32_t height) {
  const auto key = std::make_tuple(index, width, height);
  auto found = pictures_.find(key);
  if (found != pictures_.end()) return found->second.get();
  std::unique_ptr<Picture> picture;
  if (image_list && width > 0 && height > 0 && width <= kLargestIcon && height <= kLargestIcon) {
    try {
      common::unique_variant image, icon_picture, handle;
      const VARIANT position = common::LongArg(index);
      Call(image_list, MemberId(image_list, L"ListImages", kSource), {&position}, image.get(), kSource);
      const common::com_ptr<IDispatch> image_object = ToObject(*image.get(), kSource);
      Call(image_object.get(), MemberId(image_object.get(), L"ExtractIcon", kSource), {}, icon_picture.get(), kSource);
      Call(ToObject(*icon_picture.get(), kSource).get(), DISPID_VALUE, {}, handle.get(), kSource);
      HICON icon = reinterpret_cast<HICON>(static_cast<LONG_PTR>(ToLong(*handle.get(), kSource)));
      auto read = std::make_unique<Picture>();
      if (icon && ReadIcon(icon, *read)) picture = std::move(read);
    } catch (const common::RuntimeError&) {
      // A list that cannot give an icon keeps to its own drawing.
    }
  }
  if (picture) {
    picture->width = width;
    picture->height = height;
    if (picture->source_width != width || picture->source_height != height)
      picture->pixels =
          ResamplePremultiplied(picture->pixels, picture->source_width, picture->source_height, width, height);
  }
  Picture* result = picture.get();
  pictures_.emplace(key, std::move(picture));
  return result;
}

void DrawCachedPicture(HDC hDC, PictureCache::Picture& picture, int32_t x, int32_t y, bool disabled) {
  if (disabled && !picture.has_alpha) {
    if (!picture.embossable) picture.embossable.reset(MakeHardIcon(picture.pixels, picture.width, picture.height));
    DrawStateW(hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(picture.embossable.get()), 0, x, y, picture.width,
               picture.height, DST_ICON | DSS_DISABLED);
    return;
  }
  common::unique_hbitmap& dib = disabled ? picture.faded : picture.normal;
  if (!dib) dib.reset(MakeDib(disabled ? FadedGrey(picture.pixels) : picture.pixels, picture.width, picture.height));
  if (!dib) return;
  common::unique_hdc memory(CreateCompatibleDC(hDC));
  common::unique_select_object selected(memory.get(), dib.get());
  const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  GdiAlphaBlend(hDC, x, y, picture.width, picture.height, memory.get(), 0, 0, picture.width, picture.height, blend);
}

}  // namespace glyphary
