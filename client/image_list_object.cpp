#include "image_list_object.h"

#include <olectl.h>

#include <cmath>
#include <utility>
#include <vector>

#include "name_dispatch.h"
#include "runtime_error.h"
#include "screen.h"
#include "unique_handles.h"

namespace client {

namespace {

constexpr const wchar_t* kSource = L"ImageList";

enum : DISPID { idImageWidth = 1, idImageHeight, idListImages, idHandle, idCount };
constexpr DispatchMember kListMembers[] = {
    {L"ImageWidth", idImageWidth}, {L"ImageHeight", idImageHeight}, {L"ListImages", idListImages},
    {L"hImageList", idHandle},     {L"Count", idCount},
};

enum : DISPID { idIndex = 1, idDraw, idExtractIcon };
constexpr DispatchMember kImageMembers[] = {{L"Index", idIndex}, {L"Draw", idDraw}, {L"ExtractIcon", idExtractIcon}};

constexpr WORD kGet = DISPATCH_PROPERTYGET;
constexpr WORD kGetOrCall = DISPATCH_PROPERTYGET | DISPATCH_METHOD;

int32_t Handle32(const void* h) { return static_cast<int32_t>(reinterpret_cast<LONG_PTR>(h)); }

class ImageListObject final : public NameDispatch {
 public:
  explicit ImageListObject(HIMAGELIST list) noexcept
      : NameDispatch(kListMembers, std::size(kListMembers), kSource), list_(list) {}
  HIMAGELIST list() const { return list_.get(); }

 protected:
  HRESULT Call(DISPID id, WORD flags, const DispatchArgs& args, VARIANT* result) override;

 private:
  common::unique_himagelist list_;
};

class ListImageObject final : public NameDispatch {
 public:
  ListImageObject(ImageListObject* owner, int index) noexcept
      : NameDispatch(kImageMembers, std::size(kImageMembers), L"ListImage"), owner_(owner), index_(index) {}

 protected:
  HRESULT Call(DISPID id, WORD flags, const DispatchArgs& args, VARIANT* result) override;

 private:
  common::com_ptr<ImageListObject> owner_;  // keeps the list alive while the picture is held
  int index_;                               // 0-based position in the list
};

HRESULT ImageListObject::Call(DISPID id, WORD flags, const DispatchArgs& args, VARIANT* result) {
  if (!(flags & kGetOrCall)) return DISP_E_MEMBERNOTFOUND;
  int cx = 0, cy = 0;
  switch (id) {
    case idImageWidth:
    case idImageHeight:
      args.RequireAtMost(0);
      ImageList_GetIconSize(list_.get(), &cx, &cy);
      SetLong(result, id == idImageWidth ? cx : cy);
      return S_OK;
    case idHandle:
      args.RequireAtMost(0);
      SetLong(result, Handle32(list_.get()));
      return S_OK;
    case idCount:
      args.RequireAtMost(0);
      SetLong(result, ImageList_GetImageCount(list_.get()));
      return S_OK;
    case idListImages: {
      args.RequireAtLeast(1);
      args.RequireAtMost(1);
      const int32_t index = args.Long(0);
      if (index < 1 || index > ImageList_GetImageCount(list_.get()))
        common::Raise(kErrIndexOutOfBounds, kSource, L"Index out of bounds");
      common::com_ptr<IDispatch> image(new ListImageObject(this, index - 1), false);
      SetDispatch(result, image.get());
      return S_OK;
    }
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

// Draws a masked image the way ImageList_Draw draws it transparently: the image where its mask
// is black, the destination left as it was where the mask is white (ORed, as there, with what
// the image holds under the white part; ImageList_AddMasked leaves black there). This
// platform's ImageList_Draw makes and frees a device context and a bitmap on every call (about
// 0.3 ms each time, more than all the rest of a menu item's painting); here the image's and the
// mask's pixels are read and put on the destination without any new object. False where this
// does not apply (no mask, images with an alpha channel) or a step fails; the caller then uses
// ImageList_Draw.
bool DrawMaskedImage(HIMAGELIST list, int index, HDC dc, int x, int y) {
  IMAGEINFO info{};
  if (!ImageList_GetImageInfo(list, index, &info) || !info.hbmMask || !info.hbmImage) return false;
  BITMAP image_bits{};
  if (!GetObjectW(info.hbmImage, sizeof image_bits, &image_bits) || image_bits.bmBitsPixel > 24) return false;
  const int width = info.rcImage.right - info.rcImage.left;
  const int height = info.rcImage.bottom - info.rcImage.top;
  const int full_width = image_bits.bmWidth;
  const int full_height = image_bits.bmHeight;
  if (width <= 0 || height <= 0 || info.rcImage.left < 0 || info.rcImage.top < 0 ||
      info.rcImage.right > full_width || info.rcImage.bottom > full_height)
    return false;

  // Only the scan lines that hold the image, bottom-up (scan 0 is the bitmap's bottom line), as
  // 32-bit pixels.
  BITMAPINFO lines{};
  lines.bmiHeader.biSize = sizeof lines.bmiHeader;
  lines.bmiHeader.biWidth = full_width;
  lines.bmiHeader.biHeight = full_height;
  lines.bmiHeader.biPlanes = 1;
  lines.bmiHeader.biBitCount = 32;
  lines.bmiHeader.biCompression = BI_RGB;
  const UINT first_scan = static_cast<UINT>(full_height - info.rcImage.bottom);
  std::vector<DWORD> image(static_cast<size_t>(full_width) * static_cast<size_t>(height));
  std::vector<DWORD> mask(image.size());
  if (GetDIBits(dc, info.hbmImage, first_scan, static_cast<UINT>(height), image.data(), &lines, DIB_RGB_COLORS) !=
          height ||
      GetDIBits(dc, info.hbmMask, first_scan, static_cast<UINT>(height), mask.data(), &lines, DIB_RGB_COLORS) !=
          height)
    return false;
  // The lines read, as a picture of their own; the image's columns are taken from it where drawn.
  BITMAPINFO part = lines;
  part.bmiHeader.biHeight = height;
  // The mask ANDed in, then the image ORed over it, as the image list itself does. Should the
  // second step fail, ImageList_Draw over the first gives the same picture.
  for (auto [bits, rop] : {std::pair{mask.data(), SRCAND}, std::pair{image.data(), SRCPAINT}}) {
    const int copied = StretchDIBits(dc, x, y, width, height, info.rcImage.left, 0, width, height, bits, &part,
                                     DIB_RGB_COLORS, rop);
    if (copied == 0 || copied == static_cast<int>(GDI_ERROR)) return false;
  }
  return true;
}

int32_t TwipsToPixels(double twips, float twips_per_pixel) {
  return static_cast<int32_t>(std::nearbyint(twips / static_cast<double>(twips_per_pixel)));
}

HRESULT ListImageObject::Call(DISPID id, WORD flags, const DispatchArgs& args, VARIANT* result) {
  HIMAGELIST list = owner_->list();
  switch (id) {
    case idIndex:
      if (!(flags & kGet)) return DISP_E_MEMBERNOTFOUND;
      SetLong(result, index_ + 1);
      return S_OK;
    case idDraw: {
      if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
      args.RequireAtLeast(1);
      args.RequireAtMost(4);
      HDC dc = reinterpret_cast<HDC>(args.Handle(0));
      const int32_t x = TwipsToPixels(args.Double(1, 0.0), common::TwipsPerPixelX());
      const int32_t y = TwipsToPixels(args.Double(2, 0.0), common::TwipsPerPixelY());
      UINT style;
      switch (args.Long(3, 0)) {
        case 0: style = ILD_NORMAL; break;
        case 1: style = ILD_TRANSPARENT; break;
        case 2: style = ILD_SELECTED; break;
        case 3: style = ILD_FOCUS; break;
        default: common::Raise(common::errInvalidArgument, L"ListImage", L"Invalid style");
      }
      // Transparent drawing (and normal drawing where the list has no background colour, which is
      // the same) through the cheaper path when the image allows it.
      const bool transparent =
          style == ILD_TRANSPARENT || (style == ILD_NORMAL && ImageList_GetBkColor(list) == CLR_NONE);
      if (!transparent || !DrawMaskedImage(list, index_, dc, x, y)) ImageList_Draw(list, index_, dc, x, y, style);
      return S_OK;
    }
    case idExtractIcon: {
      if (!(flags & kGetOrCall)) return DISP_E_MEMBERNOTFOUND;
      args.RequireAtMost(0);
      common::unique_hicon icon(ImageList_GetIcon(list, index_, ILD_NORMAL));
      if (!icon) common::Raise(common::errInvalidArgument, L"ListImage", L"The image has no icon");
      PICTDESC desc{};
      desc.cbSizeofstruct = sizeof desc;
      desc.picType = PICTYPE_ICON;
      desc.icon.hicon = icon.get();
      common::com_ptr<IDispatch> picture;
      // The picture object owns the icon from here on and destroys it with its last reference.
      common::Check(OleCreatePictureIndirect(&desc, IID_IDispatch, TRUE, picture.put_void()), L"ListImage");
      icon.release();
      SetDispatch(result, picture.get());
      return S_OK;
    }
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace

common::com_ptr<IDispatch> NewImageListObject(HIMAGELIST list) {
  return common::com_ptr<IDispatch>(new ImageListObject(list), false);
}

HIMAGELIST LoadImageListFromFiles(int width, int height, const std::vector<std::wstring>& files, COLORREF mask_color) {
  common::unique_himagelist list(ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, static_cast<int>(files.size()), 4));
  if (!list) return nullptr;
  for (const std::wstring& file : files) {
    common::unique_hbitmap bitmap(static_cast<HBITMAP>(
        LoadImageW(nullptr, file.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
    if (!bitmap) return nullptr;
    BITMAP info{};
    GetObjectW(bitmap.get(), sizeof info, &info);
    if (info.bmWidth != width || info.bmHeight != height) return nullptr;
    if (ImageList_AddMasked(list.get(), bitmap.get(), mask_color) < 0) return nullptr;
  }
  return list.release();
}

}  // namespace client
