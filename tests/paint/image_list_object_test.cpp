#include <gtest/gtest.h>

#include <vector>

#include "canvas.h"
#include "gdi_counter.h"
#include "image_list_object.h"
#include "screen.h"
#include "variant_args.h"

using paint_tests::Canvas;
using paint_tests::kUntouched;

namespace {

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 12345;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
  return id;
}

// Calls name with args (in call order) the way a late-bound client does.
HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result,
             EXCEPINFO* excep = nullptr) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO local{};
  HRESULT hr = object->Invoke(IdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                              excep ? excep : &local, nullptr);
  if (!excep) {
    SysFreeString(local.bstrSource);
    SysFreeString(local.bstrDescription);
  }
  return hr;
}

constexpr auto Long = common::LongArg;
constexpr auto Double = common::DoubleArg;

COLORREF Picture(int i, int x, int y) {
  if (x == 0 && y == 0) return i == 0 ? RGB(255, 0, 0) : RGB(0, 255, 0);
  if (x == 1 && y == 0) return paint_tests::kMask;
  return RGB(0, 0, 255);
}

class ImageListObjectTest : public ::testing::Test {
 protected:
  common::com_ptr<IDispatch> list_ = paint_tests::MakeImageList(16, 12, 2, Picture);

  common::com_ptr<IDispatch> Image(LONG index) {
    common::unique_variant v;
    EXPECT_EQ(S_OK, Call(list_.get(), L"ListImages", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Long(index)}, v.put()));
    EXPECT_EQ(VT_DISPATCH, V_VT(v.get()));
    return common::com_ptr<IDispatch>(V_DISPATCH(v.get()));
  }
};

TEST_F(ImageListObjectTest, MembersAreFoundByNameWithoutRegardToCase) {
  EXPECT_EQ(IdOf(list_.get(), L"ImageWidth"), IdOf(list_.get(), L"imagewidth"));
  EXPECT_EQ(IdOf(list_.get(), L"ListImages"), IdOf(list_.get(), L"LISTIMAGES"));
  EXPECT_NE(IdOf(list_.get(), L"ImageWidth"), IdOf(list_.get(), L"ImageHeight"));
  EXPECT_NE(DISPID_UNKNOWN, IdOf(list_.get(), L"listimages"));
  EXPECT_EQ(DISPID_UNKNOWN, IdOf(list_.get(), L"ImageWidthX"));
  common::com_ptr<IDispatch> image = Image(1);
  EXPECT_NE(DISPID_UNKNOWN, IdOf(image.get(), L"draw"));
  EXPECT_NE(DISPID_UNKNOWN, IdOf(image.get(), L"EXTRACTICON"));
  EXPECT_EQ(DISPID_UNKNOWN, IdOf(image.get(), L"ImageWidth"));
}

TEST_F(ImageListObjectTest, SizesAreThePicturesOwn) {
  common::unique_variant w, h;
  ASSERT_EQ(S_OK, Call(list_.get(), L"ImageWidth", DISPATCH_PROPERTYGET, {}, w.put()));
  ASSERT_EQ(S_OK, Call(list_.get(), L"ImageHeight", DISPATCH_PROPERTYGET, {}, h.put()));
  EXPECT_EQ(16, V_I4(w.get()));
  EXPECT_EQ(12, V_I4(h.get()));
}

TEST_F(ImageListObjectTest, ListImagesCountsFromOneAndRefusesIndexesOutside) {
  for (LONG index : {1, 2}) {
    common::unique_variant v;
    ASSERT_EQ(S_OK, Call(Image(index).get(), L"Index", DISPATCH_PROPERTYGET, {}, v.put()));
    EXPECT_EQ(index, V_I4(v.get()));
  }
  for (LONG index : {0, 3, -1}) {
    common::unique_variant v;
    EXCEPINFO e{};
    EXPECT_EQ(DISP_E_EXCEPTION, Call(list_.get(), L"ListImages", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Long(index)},
                                     v.put(), &e));
    EXPECT_EQ(static_cast<HRESULT>(0x800A0000 | client::kErrIndexOutOfBounds), e.scode) << index;
    EXPECT_STREQ(L"Index out of bounds", e.bstrDescription);
    SysFreeString(e.bstrSource);
    SysFreeString(e.bstrDescription);
  }
  // A by-reference variant holding a text index, as a script passes a variable.
  VARIANT inner;
  VariantInit(&inner);
  V_VT(&inner) = VT_BSTR;
  V_BSTR(&inner) = SysAllocString(L"2");
  VARIANT ref;
  VariantInit(&ref);
  V_VT(&ref) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&ref) = &inner;
  common::unique_variant v;
  EXPECT_EQ(S_OK, Call(list_.get(), L"ListImages", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {ref}, v.put()));
  VariantClear(&inner);
}

TEST_F(ImageListObjectTest, DrawTakesItsPositionInTwips) {
  Canvas canvas(40, 40);
  common::unique_variant ignored;
  const double tx = common::TwipsPerPixelX(), ty = common::TwipsPerPixelY();
  ASSERT_EQ(S_OK, Call(Image(2).get(), L"Draw", DISPATCH_METHOD,
                       {Long(static_cast<LONG>(reinterpret_cast<LONG_PTR>(canvas.dc()))), Double(5 * tx),
                        Double(7 * ty), Long(1)},
                       ignored.put()));
  EXPECT_EQ(RGB(0, 255, 0), canvas.At(5, 7));
  EXPECT_EQ(kUntouched, canvas.At(6, 7)) << "style 1 leaves the masked pixel transparent";
  EXPECT_EQ(RGB(0, 0, 255), canvas.At(20, 18));
  EXPECT_EQ(kUntouched, canvas.At(21, 18));
  EXPECT_EQ(kUntouched, canvas.At(20, 19));
  EXPECT_EQ(kUntouched, canvas.At(4, 7));
}

TEST_F(ImageListObjectTest, ExtractIconGivesAPictureWhoseIconLivesAsLongAsThePicture) {
  testing_support::GdiCounter::Install(GetModuleHandleW(nullptr));
  testing_support::GdiCounter::Install(GetModuleHandleW(L"oleaut32.dll"));
  common::unique_variant picture;
  ASSERT_EQ(S_OK, Call(Image(1).get(), L"ExtractIcon", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, picture.put()));
  ASSERT_EQ(VT_DISPATCH, V_VT(picture.get()));
  common::unique_variant handle;
  DISPPARAMS none{};
  ASSERT_EQ(S_OK, V_DISPATCH(picture.get())->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                                   &none, handle.put(), nullptr, nullptr));
  ASSERT_EQ(S_OK, VariantChangeType(handle.get(), handle.get(), 0, VT_I4));
  HICON icon = reinterpret_cast<HICON>(static_cast<LONG_PTR>(V_I4(handle.get())));
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP color{};
  GetObjectW(info.hbmColor, sizeof color, &color);
  EXPECT_EQ(16, color.bmWidth);
  EXPECT_EQ(12, color.bmHeight);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  EXPECT_TRUE(testing_support::GdiCounter::IsLive(icon));
  const long icon_freed = testing_support::GdiCounter::TimesFreed(icon);  // handle values are reused

  picture.put();  // releases the picture object
  EXPECT_FALSE(testing_support::GdiCounter::IsLive(icon)) << "the picture destroyed its icon";
  EXPECT_EQ(icon_freed + 1, testing_support::GdiCounter::TimesFreed(icon));
}

TEST(ImageListFiles, LoadsBitmapsOfTheRightSizeOnly) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::wstring good = std::wstring(dir) + L"paint_test_16.bmp";
  const std::wstring bad = std::wstring(dir) + L"paint_test_8.bmp";
  {
    Canvas a(16, 16, RGB(0, 0, 255));
    a.Save(good);
    Canvas b(8, 16, RGB(0, 0, 255));
    b.Save(bad);
  }
  HIMAGELIST list = client::LoadImageListFromFiles(16, 16, {good, good}, paint_tests::kMask);
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(2, ImageList_GetImageCount(list));
  ImageList_Destroy(list);
  EXPECT_EQ(nullptr, client::LoadImageListFromFiles(16, 16, {good, bad}, paint_tests::kMask));
  EXPECT_EQ(nullptr, client::LoadImageListFromFiles(16, 16, {std::wstring(dir) + L"no such file.bmp"}, paint_tests::kMask));
  DeleteFileW(good.c_str());
  DeleteFileW(bad.c_str());
}

}  // namespace

namespace {

// Pixels of a picture whose colour under the mask is not black, so that a drawing that does not
// combine image and mask the way the image list does shows it.
void PaintPattern(HDC dc, int i, int w, int h, bool mask) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool clear = (x + y + i) % 3 == 0;
      SetPixelV(dc, x, y, mask ? (clear ? RGB(255, 255, 255) : RGB(0, 0, 0))
                               : RGB((40 * i + 7 * x) & 255, (13 * y) & 255, clear ? 200 : 90));
    }
}

// A raw list of count pictures made with ImageList_Add (explicit masks) or without masks.
HIMAGELIST RawList(UINT flags, int w, int h, int count) {
  HIMAGELIST list = ImageList_Create(w, h, flags, count, 1);
  for (int i = 0; i < count; ++i) {
    Canvas image(w, h), mask(w, h);
    PaintPattern(image.dc(), i, w, h, false);
    PaintPattern(mask.dc(), i, w, h, true);
    HBITMAP stock = CreateBitmap(1, 1, 1, 1, nullptr);
    HBITMAP image_bmp = static_cast<HBITMAP>(SelectObject(image.dc(), stock));
    HBITMAP mono = CreateBitmap(w, h, 1, 1, nullptr);
    HDC mono_dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mono_dc, mono);
    BitBlt(mono_dc, 0, 0, w, h, mask.dc(), 0, 0, SRCCOPY);
    SelectObject(mono_dc, old);
    DeleteDC(mono_dc);
    ImageList_Add(list, image_bmp, (flags & ILC_MASK) ? mono : nullptr);
    SelectObject(image.dc(), image_bmp);
    DeleteObject(mono);
    DeleteObject(stock);
  }
  return list;
}

}  // namespace

TEST(ImageListObjectDraw, EveryStyleGivesThePixelsOfTheImageListsOwnDrawing) {
  struct Case {
    UINT flags;
    int w, h, count;
    COLORREF background;
  };
  // Several pictures per row and several rows in the list's bitmap; with and without masks; a
  // list background colour for the normal style.
  for (const Case& c : {Case{ILC_COLOR24 | ILC_MASK, 16, 16, 9, CLR_NONE}, Case{ILC_COLOR24 | ILC_MASK, 19, 13, 6, CLR_NONE},
                        Case{ILC_COLOR24 | ILC_MASK, 16, 16, 41, CLR_NONE},
                        Case{ILC_COLOR24 | ILC_MASK, 16, 16, 5, RGB(10, 200, 10)}, Case{ILC_COLOR24, 16, 16, 5, CLR_NONE},
                        Case{ILC_COLOR4 | ILC_MASK, 16, 16, 5, CLR_NONE}}) {
    HIMAGELIST raw = RawList(c.flags, c.w, c.h, c.count);
    ImageList_SetBkColor(raw, c.background);
    HIMAGELIST reference = RawList(c.flags, c.w, c.h, c.count);  // the same pictures, drawn directly
    ImageList_SetBkColor(reference, c.background);
    common::com_ptr<IDispatch> list = client::NewImageListObject(raw);
    for (LONG style = 0; style <= 3; ++style) {
      for (int i = 0; i < c.count; ++i) {
        common::unique_variant image;
        ASSERT_EQ(S_OK, Call(list.get(), L"ListImages", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Long(i + 1)},
                             image.put()));
        Canvas ours(40, 30), theirs(40, 30);
        for (Canvas* canvas : {&ours, &theirs})
          for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) SetPixelV(canvas->dc(), x, y, RGB(x * 6, 255 - y * 8, (x * y) & 255));
        common::unique_variant ignored;
        ASSERT_EQ(S_OK, Call(V_DISPATCH(image.get()), L"Draw", DISPATCH_METHOD,
                             {Long(static_cast<LONG>(reinterpret_cast<LONG_PTR>(ours.dc()))),
                              Double(5 * common::TwipsPerPixelX()), Double(7 * common::TwipsPerPixelY()), Long(style)},
                             ignored.put()));
        const UINT ild[] = {ILD_NORMAL, ILD_TRANSPARENT, ILD_SELECTED, ILD_FOCUS};
        ImageList_Draw(reference, i, theirs.dc(), 5, 7, ild[style]);
        int differing = 0;
        for (int y = 0; y < 30; ++y)
          for (int x = 0; x < 40; ++x) differing += ours.At(x, y) != theirs.At(x, y);
        EXPECT_EQ(0, differing) << "flags " << std::hex << c.flags << std::dec << ", " << c.w << "x" << c.h
                                << ", style " << style << ", picture " << i + 1;
      }
    }
    ImageList_Destroy(reference);
  }
}
