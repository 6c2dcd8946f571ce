#include "menu_fixture.h"

#include <gtest/gtest.h>

#include <cwctype>

#include "automation_object.h"

using common::com_ptr;

namespace menu_test {

com_ptr<glyphary::CGlyphary> NewComponent() {
  return com_ptr<glyphary::CGlyphary>(new glyphary::CGlyphary(), false);
}

com_ptr<_CGlyphary> CreateRegistered() {
  com_ptr<_CGlyphary> g;
  HRESULT hr = CoCreateInstance(CLSID_CGlyphary, nullptr, CLSCTX_INPROC_SERVER, IID__CGlyphary, g.put_void());
  EXPECT_EQ(S_OK, hr) << "Glyphary.dll must be registered";
  return g;
}

HRESULT SetForm(_CGlyphary* g, IDispatch* form) {
  IDispatch* f = form;
  return g->put_Form(&f);
}

HRESULT SetImageList(_CGlyphary* g, IDispatch* images) {
  IDispatch* i = images;
  return g->putref_ImageList(&i);
}

HRESULT SetItemImage(_CGlyphary* g, LONG image, const wchar_t* name, LONG* index) {
  BSTR b = SysAllocString(name);
  HRESULT hr = g->SetItemImage(&image, &b, index);
  SysFreeString(b);
  return hr;
}

long ErrorNumber(HRESULT hr) {
  if ((static_cast<unsigned long>(hr) & 0xFFFF0000UL) == 0x800A0000UL) return hr & 0xFFFF;
  return static_cast<long>(hr);
}

namespace {

class ImageSizes final : public client::AutomationObject {
 public:
  ImageSizes(LONG w, LONG h) : AutomationObject(L"ImageList"), w_(w), h_(h) {}

 protected:
  const std::vector<Member>& Members() const override {
    static const std::vector<Member> m{{L"ImageWidth", 1}, {L"ImageHeight", 2}};
    return m;
  }
  void Dispatch(DISPID id, WORD, const std::vector<const VARIANT*>&, VARIANT* result) override {
    client::ReturnLong(result, id == 1 ? w_ : h_);
  }

 private:
  LONG w_, h_;
};

}  // namespace

com_ptr<IDispatch> FakeImageList(LONG width, LONG height) {
  return com_ptr<IDispatch>(new ImageSizes(width, height), false);
}

com_ptr<client::FormObject> SampleForm() {
  auto form = client::FormObject::Create(L"Sample form");
  auto* file = form->AddPopup(nullptr, L"mnuFile", L"&File");
  form->AddItem(file->SubMenu(), L"mnuNew", L"&New");
  form->AddItem(file->SubMenu(), L"mnuOpen", L"&Open...\tCtrl+O");
  form->AddSeparator(file->SubMenu(), L"mnuSep1");
  form->AddItem(file->SubMenu(), L"mnuSave", L"&Save");
  auto* edit = form->AddPopup(nullptr, L"mnuEdit", L"&Edit");
  form->AddItem(edit->SubMenu(), L"mnuCopy", L"&Copy");
  form->AddItem(edit->SubMenu(), L"mnuCut", L"&Cut");
  form->AddItem(edit->SubMenu(), L"mnuPaste", L"&Paste");
  auto* recent = form->AddPopup(nullptr, L"mnuRecentList", L"&Recent");
  for (LONG i = 0; i < 3; ++i)
    form->AddItem(recent->SubMenu(), L"mnuRecent", (L"Recent " + std::to_wstring(i)).c_str(), i);
  return form;
}

namespace {
MENUITEMINFOW Info(HMENU menu, int pos, UINT mask) {
  MENUITEMINFOW mii{};
  mii.cbSize = sizeof(mii);
  mii.fMask = mask;
  GetMenuItemInfoW(menu, static_cast<UINT>(pos), TRUE, &mii);
  return mii;
}
}  // namespace

ULONG_PTR ItemData(HMENU menu, int pos) { return Info(menu, pos, MIIM_DATA).dwItemData; }
UINT ItemType(HMENU menu, int pos) { return Info(menu, pos, MIIM_FTYPE).fType; }
UINT ItemState(HMENU menu, int pos) { return Info(menu, pos, MIIM_STATE).fState; }

TopSubclass::TopSubclass(HWND h, Handler hnd) : handler(std::move(hnd)), hwnd_(h) {
  SetWindowSubclass(h, Proc, reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this));
}

TopSubclass::~TopSubclass() {
  if (IsWindow(hwnd_)) RemoveWindowSubclass(hwnd_, Proc, reinterpret_cast<UINT_PTR>(this));
}

LRESULT CALLBACK TopSubclass::Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  auto* self = reinterpret_cast<TopSubclass*>(ref);
  LRESULT r = 0;
  if (self->handler && self->handler(h, msg, wp, lp, &r)) return r;
  return DefSubclassProc(h, msg, wp, lp);
}

UINT RunPopup(HWND owner, HMENU popup, const std::function<void(HWND)>& on_open) {
  bool opened = false;
  TopSubclass watch(owner, [&](HWND h, UINT msg, WPARAM, LPARAM, LRESULT*) {
    if (msg == WM_ENTERIDLE && !opened) {
      opened = true;
      if (on_open) on_open(h);
      PostMessageW(h, WM_KEYDOWN, VK_ESCAPE, 0);
    }
    return false;
  });
  SetForegroundWindow(owner);
  UINT cmd = static_cast<UINT>(TrackPopupMenu(popup, TPM_RETURNCMD | TPM_LEFTALIGN, 100, 100, 0, owner, nullptr));
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  EXPECT_TRUE(opened) << "the popup never became idle";
  return cmd;
}

bool AgeNextMenuHandle() {
  for (int i = 0; i < 70000; ++i) {
    const HMENU m = CreatePopupMenu();
    if (!m) return false;
    const bool high = (reinterpret_cast<UINT_PTR>(m) & 0x80000000u) != 0;
    DestroyMenu(m);
    if (high) return true;
  }
  return false;
}

void PressKey(HWND owner, wchar_t c) {
  PostMessageW(owner, WM_CHAR, static_cast<WPARAM>(c), 0);
}

}  // namespace menu_test
