#include "image_list_object.h"

#include <olectl.h>

#include <cmath>

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
      ImageList_Draw(list, index_, dc, x, y, style);
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
