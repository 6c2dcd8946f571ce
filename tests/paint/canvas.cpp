#include "canvas.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstring>

#include "image_list_object.h"

namespace paint_tests {

// --- Canvas ---------------------------------------------------------------------------------------

Canvas::Canvas(int width, int height, COLORREF fill) : width_(width), height_(height) {
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = width;
  bmi.bmiHeader.biHeight = -height;  // top-down
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  dc_ = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(dc_, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bits_ = static_cast<DWORD*>(bits);
  old_ = SelectObject(dc_, bitmap_);
  Fill(fill);
}

Canvas::~Canvas() {
  SelectObject(dc_, old_);
  DeleteObject(bitmap_);
  DeleteDC(dc_);
}

void Canvas::Fill(COLORREF color) {
  GdiFlush();
  const DWORD pixel = (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
  for (int i = 0; i < width_ * height_; ++i) bits_[i] = pixel;
}

COLORREF Canvas::At(int x, int y) const {
  GdiFlush();
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
  const DWORD p = bits_[y * width_ + x];
  return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

RECT Canvas::Bounds(const RECT& area, const std::function<bool(COLORREF)>& match) const {
  RECT r{0, 0, 0, 0};
  bool any = false;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      if (!match(At(x, y))) continue;
      if (!any) {
        r = {x, y, x + 1, y + 1};
        any = true;
      } else {
        r.left = std::min<LONG>(r.left, x);
        r.top = std::min<LONG>(r.top, y);
        r.right = std::max<LONG>(r.right, x + 1);
        r.bottom = std::max<LONG>(r.bottom, y + 1);
      }
    }
  }
  return r;
}

int Canvas::CountIf(const RECT& area, const std::function<bool(COLORREF)>& match) const {
  int n = 0;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x) n += match(At(x, y)) ? 1 : 0;
  return n;
}

bool Canvas::All(const RECT& area, COLORREF color) const {
  return CountIf(area, [color](COLORREF c) { return c != color; }) == 0;
}

void Canvas::Save(const std::wstring& path) const {
  GdiFlush();
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width_;
  info.biHeight = -height_;
  info.biPlanes = 1;
  info.biBitCount = 32;
  const DWORD size = static_cast<DWORD>(width_ * height_ * 4);
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + size;
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) return;
  fwrite(&file, sizeof file, 1, f);
  fwrite(&info, sizeof info, 1, f);
  fwrite(bits_, size, 1, f);
  fclose(f);
}

int Brightness(COLORREF c) { return 299 * GetRValue(c) + 587 * GetGValue(c) + 114 * GetBValue(c); }

HBITMAP MakeMonoBitmap(int width, int height, const std::vector<POINT>& black) {
  const int stride = ((width + 15) / 16) * 2;  // rows of a device-dependent bitmap are word-aligned
  std::vector<BYTE> bits(static_cast<size_t>(stride * height), 0xFF);
  for (const POINT& p : black) bits[static_cast<size_t>(p.y * stride + p.x / 8)] &= static_cast<BYTE>(~(0x80 >> (p.x % 8)));
  return CreateBitmap(width, height, 1, 1, bits.data());
}

PlainFont::PlainFont(HDC dc) : dc_(dc) {
  LOGFONTW lf{};
  lf.lfHeight = -11;
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = NONANTIALIASED_QUALITY;
  wcscpy(lf.lfFaceName, L"Tahoma");
  font_ = CreateFontIndirectW(&lf);
  old_ = SelectObject(dc_, font_);
}

PlainFont::~PlainFont() {
  SelectObject(dc_, old_);
  DeleteObject(font_);
}

// --- image lists ----------------------------------------------------------------------------------

common::com_ptr<IDispatch> MakeImageList(int width, int height, int count,
                                         const std::function<COLORREF(int, int, int)>& paint) {
  HIMAGELIST list = ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, count, 1);
  for (int i = 0; i < count; ++i) {
    Canvas picture(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) SetPixelV(picture.dc(), x, y, paint(i, x, y));
    // The bitmap must not stay selected while the image list copies it.
    HBITMAP copy = static_cast<HBITMAP>(GetCurrentObject(picture.dc(), OBJ_BITMAP));
    HBITMAP stock = CreateBitmap(1, 1, 1, 1, nullptr);
    SelectObject(picture.dc(), stock);
    ImageList_AddMasked(list, copy, kMask);
    SelectObject(picture.dc(), copy);
    DeleteObject(stock);
  }
  return client::NewImageListObject(list);
}

// --- MenuBench ------------------------------------------------------------------------------------

MenuBench::MenuBench() : menu_(CreatePopupMenu()), items_(glyphary::kItemStoreSize) {
  context.items = items_.data();
  context.cell_width = 16;
  context.cell_height = 16;
  context.image_list = nullptr;
}

MenuBench::~MenuBench() { DestroyMenu(menu_); }

int MenuBench::Add(const std::wstring& caption, int image_index, bool top_level, bool separator) {
  const int slot = count_++;
  glyphary::ItemRecord& r = items_[static_cast<size_t>(slot)];
  r.CommandId = static_cast<int32_t>(IdOf(slot));
  r.Caption = caption;
  r.ImageIndex = image_index;
  r.ItemType = MFT_OWNERDRAW | (separator ? MFT_SEPARATOR : 0);
  r.IsTopLevel = top_level ? -1 : 0;
  const auto tab = caption.find(L'\t');
  r.HasShortcut = tab != std::wstring::npos ? -1 : 0;
  r.Shortcut = tab != std::wstring::npos ? caption.substr(tab + 1) : std::wstring();

  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_TYPE | MIIM_ID | MIIM_DATA;
  info.fType = static_cast<UINT>(r.ItemType);
  info.wID = IdOf(slot);
  info.dwItemData = static_cast<uint32_t>(glyphary::MakeItemData(static_cast<int16_t>(slot)));
  InsertMenuItemA(menu_, static_cast<UINT>(GetMenuItemCount(menu_)), TRUE, &info);
  return slot;
}

UINT MenuBench::AddForeign(ULONG_PTR data) {
  const UINT id = 90;
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_TYPE | MIIM_ID | MIIM_DATA;
  info.fType = MFT_OWNERDRAW;
  info.wID = id;
  info.dwItemData = data;
  InsertMenuItemA(menu_, static_cast<UINT>(GetMenuItemCount(menu_)), TRUE, &info);
  return id;
}

DRAWITEMSTRUCT MenuBench::Describe(UINT id, HDC dc, RECT item, UINT state, UINT action) const {
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_DATA;
  GetMenuItemInfoA(menu_, id, FALSE, &info);
  DRAWITEMSTRUCT dis{};
  dis.CtlType = ODT_MENU;
  dis.itemID = id;
  dis.itemAction = action;
  dis.itemState = state;
  dis.hwndItem = reinterpret_cast<HWND>(menu_);
  dis.hDC = dc;
  dis.rcItem = item;
  dis.itemData = info.dwItemData;
  return dis;
}

LONG MenuBench::Paint(int slot, HDC dc, RECT item, UINT state, UINT action) {
  DRAWITEMSTRUCT dis = Describe(IdOf(slot), dc, item, state, action);
  return glyphary::DrawMenuItem(context, reinterpret_cast<LONG_PTR>(&dis));
}

// --- DistinctMenuColors ---------------------------------------------------------------------------

DistinctMenuColors::DistinctMenuColors() {
  const int indexes[] = {COLOR_MENU, COLOR_MENUTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT,
                         COLOR_GRAYTEXT, COLOR_BTNHIGHLIGHT, COLOR_3DLIGHT};
  const COLORREF colors[] = {RGB(224, 224, 224), RGB(0, 0, 0),       RGB(10, 36, 106), RGB(255, 255, 255),
                             RGB(128, 128, 128), RGB(255, 255, 240), RGB(240, 236, 200)};
  for (int i : indexes) {
    indexes_.push_back(i);
    previous_.push_back(GetSysColor(i));
  }
  SetSysColors(static_cast<int>(std::size(indexes)), indexes, colors);
}

DistinctMenuColors::~DistinctMenuColors() {
  SetSysColors(static_cast<int>(indexes_.size()), indexes_.data(), previous_.data());
}

}  // namespace paint_tests
