#include "glyphary.h"

#include <algorithm>
#include <string>
#include <vector>

#include "checked_math.h"
#include "dpi_scale.h"
#include "item_paint.h"
#include "late_bound.h"
#include "runtime_error.h"
#include "words.h"

using common::Check;
using common::com_ptr;
using common::Raise;
using common::unique_variant;

namespace glyphary {

namespace {
constexpr LONG kAllMessages = 0xFFFF;
}

// --- lifecycle ------------------------------------------------------------------------

CGlyphary::CGlyphary() : dispatch_(IID__CGlyphary) {
  Check(CoCreateInstance(CLSID_HookwireWindow, nullptr, CLSCTX_INPROC_SERVER, IID__HookwireWindow,
                         m_Window.put_void()),
        kSource);
}

CGlyphary::~CGlyphary() {
  // Registrations and the sink are not withdrawn first: with subclassing off nothing arrives.
  if (m_Window) m_Window->put_Subclassed(VARIANT_FALSE);
  m_Window.reset();
  if (m_MenuFont) {
    DeleteObject(m_MenuFont);
    m_MenuFont = nullptr;
  }
}

HRESULT CGlyphary::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__CGlyphary) {
    *out = static_cast<_CGlyphary*>(this);
  } else if (iid == IID_IhkMessageSink) {
    *out = static_cast<IhkMessageSink*>(this);
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT CGlyphary::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID__CGlyphary || iid == IID_IhkMessageSink ? S_OK : S_FALSE;
}

// Late-bound calls go through the type library. This platform's ITypeInfo::Invoke fills an
// omitted optional by-reference argument with its default value used as a pointer, and
// refuses a variant passed by reference where a Long or String is declared; so omitted
// arguments are supplied here as by-reference temporaries holding their defaults, and
// variants passed by reference are handed on as the values they hold.
HRESULT CGlyphary::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* excep, UINT* arg_err) {
  ITypeInfo* info = dispatch_.info();
  if (!info) return TYPE_E_CANTLOADLIBRARY;
  if (!params) return E_INVALIDARG;
  std::vector<VARIANT> args(params->rgvarg, params->rgvarg + params->cArgs);
  for (VARIANT& a : args) {
    while (V_VT(&a) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&a)) a = *V_VARIANTREF(&a);
  }
  const UINT named = params->cNamedArgs;
  LONG no_menu_index = kNoMenuIndex;
  if (id == kDispidSetItemImage && (flags & DISPATCH_METHOD)) {
    VARIANT omitted;
    VariantInit(&omitted);
    V_VT(&omitted) = VT_BYREF | VT_I4;
    V_I4REF(&omitted) = &no_menu_index;
    const UINT positional = params->cArgs - named;
    bool named_index = false;
    for (UINT i = 0; i < named; ++i) {
      if (params->rgdispidNamedArgs[i] != 2) continue;
      named_index = true;
      if (V_VT(&args[i]) == VT_ERROR && V_ERROR(&args[i]) == DISP_E_PARAMNOTFOUND) args[i] = omitted;
    }
    if (!named_index) {
      if (positional >= 3) {
        VARIANT& a = args[params->cArgs - 3];
        if (V_VT(&a) == VT_ERROR && V_ERROR(&a) == DISP_E_PARAMNOTFOUND) a = omitted;
      } else if (positional == 2) {
        // Arguments run in reverse: the third comes before the other two.
        args.insert(args.begin() + named, omitted);
      }
    }
  }
  DISPPARAMS given{args.data(), params->rgdispidNamedArgs, static_cast<UINT>(args.size()), named};
  return info->Invoke(static_cast<_CGlyphary*>(this), id, flags, &given, result, excep, arg_err);
}

// --- public members -------------------------------------------------------------------------

HRESULT CGlyphary::putref_ImageList(IDispatch** img) {
  COM_METHOD_BEGIN
  m_ImageList = com_ptr<IDispatch>(img ? *img : nullptr);
  unique_variant v;
  GetProperty(m_ImageList.get(), L"ImageWidth", v.get(), kSource);
  m_ImageWidth = ToLong(*v.get(), kSource);
  GetProperty(m_ImageList.get(), L"ImageHeight", v.put(), kSource);
  m_ImageHeight = ToLong(*v.get(), kSource);
  m_Pictures.Clear();
  UpdateCell();
  COM_METHOD_END(kSource, IID__CGlyphary)
}

HRESULT CGlyphary::put_Form(IDispatch** frm) {
  COM_METHOD_BEGIN
  m_Form = com_ptr<IDispatch>(frm ? *frm : nullptr);
  unique_variant v;
  GetProperty(m_Form.get(), L"hwnd", v.get(), kSource);
  Check(m_Window->put_hWnd(ToLong(*v.get(), kSource)), kSource);
  LONG hwnd = 0;
  Check(m_Window->get_hWnd(&hwnd), kSource);
  if (hwnd) Attach();
  else Detach();
  COM_METHOD_END(kSource, IID__CGlyphary)
}

void CGlyphary::Attach() {
  for (UINT msg : kWatchedMessages) Check(m_Window->put_WatchMessage(static_cast<LONG>(msg), VARIANT_TRUE), kSource);
  Check(m_Window->put_Subclassed(VARIANT_TRUE), kSource);
  Check(m_Window->putref_MessageSink(static_cast<IhkMessageSink*>(this)), kSource);
  ReadMenuSettings();
  if (WindowDpi(FormWindow()) != m_Dpi) ApplyDpi(WindowDpi(FormWindow()));
  m_MenuFont = GetMenuFont();
  // Items prepared for an earlier Form hold slots that numbering from 0 would hand out again.
  ReleasePreparedItems();
  m_ItemCount = 0;
  PrepareMenu(WindowMenu(), 1, true);
  m_FirstPopup = GetSubMenu(WindowMenu(), 0);
}

void CGlyphary::Detach() {
  Check(m_Window->put_WatchMessage(kAllMessages, VARIANT_FALSE), kSource);
  Check(m_Window->put_Subclassed(VARIANT_FALSE), kSource);
  Check(m_Window->putref_MessageSink(nullptr), kSource);
}

HRESULT CGlyphary::SetItemImage(LONG* ImageIndex, BSTR* sMenuName, LONG* MenuIndex) {
  COM_METHOD_BEGIN
  if (!ImageIndex || !sMenuName) Raise(common::errInvalidArgument, kSource);
  const std::wstring name = *sMenuName ? std::wstring(*sMenuName, SysStringLen(*sMenuName)) : std::wstring();
  const LONG index = MenuIndex ? *MenuIndex : kNoMenuIndex;
  unique_variant name_arg;
  V_VT(name_arg.get()) = VT_BSTR;
  V_BSTR(name_arg.get()) = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
  unique_variant control;
  std::wstring key = name;
  if (index == kNoMenuIndex) {
    m_ImageIndexes.Add(*ImageIndex, key);
    Call(m_Form.get(), DISPID_VALUE, {name_arg.get()}, control.get(), kSource);
  } else {
    key += L";" + std::to_wstring(index);
    m_ImageIndexes.Add(*ImageIndex, key);
    unique_variant array;
    Call(m_Form.get(), DISPID_VALUE, {name_arg.get()}, array.get(), kSource);
    unique_variant index_arg;
    V_VT(index_arg.get()) = VT_I4;
    V_I4(index_arg.get()) = index;
    Call(ToObject(*array.get(), kSource).get(), DISPID_VALUE, {index_arg.get()}, control.get(), kSource);
  }
  unique_variant caption;
  GetProperty(ToObject(*control.get(), kSource).get(), L"Caption", caption.get(), kSource);
  m_CaptionKeys.Add(key, ToText(*caption.get(), kSource));
  COM_METHOD_END(kSource, IID__CGlyphary)
}

// --- message handlers -------------------------------------------------------------------------

HRESULT CGlyphary::Message(LONG msg, LONG_PTR wParam, LONG_PTR lParam, LONG_PTR* result) {
  if (!result) return E_POINTER;
  COM_METHOD_BEGIN
  switch (static_cast<UINT>(msg)) {
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      ReadMenuSettings();
      RebuildMenuFont();
      PrepareMenu(WindowMenu(), 1, true);
      *result = PassOn(msg, wParam, lParam);
      break;
    case WM_DRAWITEM:
      *result = DrawItem(lParam);
      break;
    case WM_MEASUREITEM:
      // wParam 0: a menu item; anything else is an owner-drawn control of the form.
      *result = wParam == 0 ? MeasureMenuItem(lParam) : PassOn(msg, wParam, lParam);
      break;
    case WM_INITMENU:
      *result = PassOn(msg, wParam, lParam);
      break;
    case WM_INITMENUPOPUP:
      *result = PrepareMenu(reinterpret_cast<HMENU>(wParam), static_cast<int32_t>(lParam), false);
      break;
    case WM_MENUCHAR:
      *result = HandleMenuChar(wParam, lParam);
      break;
    case kDpiChanged:
      // The new DPI is in both words of wParam; the form's own procedure resizes the window.
      ApplyDpi(LOWORD(wParam));
      PrepareMenu(WindowMenu(), 1, true);
      *result = PassOn(msg, wParam, lParam);
      break;
    default:
      break;
  }
  COM_METHOD_END(kSource, IID_IhkMessageSink)
}

// WM_DRAWITEM: paints the component's own items (item_paint.h); 0 for anything else.
LONG CGlyphary::DrawItem(LONG_PTR lParam) {
  PaintContext context;
  context.items = m_Items.data();
  context.cell_width = m_CellWidth;
  context.cell_height = m_CellHeight;
  context.image_list = m_ImageList.get();
  context.dpi = m_Dpi;
  context.pictures = &m_Pictures;
  context.keyboard_cues = m_KeyboardCues;
  context.flat_menus = m_FlatMenus;
  return DrawMenuItem(context, lParam);
}

// --- high DPI and the system's menu settings ---------------------------------------------------

void CGlyphary::ApplyDpi(uint32_t dpi) {
  if (dpi == 0) Raise(common::errInvalidArgument, kSource);
  m_Dpi = dpi;
  UpdateCell();
  if (m_MenuFont) RebuildMenuFont();
}

void CGlyphary::UpdateCell() {
  if (!m_ImageList) return;
  const int32_t gaps = ScalePixels(6, m_Dpi);
  m_CellWidth = common::CheckedAdd(PictureSide(m_ImageWidth, m_Dpi), gaps, kSource);
  m_CellHeight = common::CheckedAdd(PictureSide(m_ImageHeight, m_Dpi), gaps, kSource);
}

void CGlyphary::ReadMenuSettings() {
  m_KeyboardCues = KeyboardCuesShown();
  m_FlatMenus = FlatMenus();
}

// --- internal helpers -------------------------------------------------------------------------

LONG_PTR CGlyphary::PassOn(LONG msg, LONG_PTR wParam, LONG_PTR lParam) {
  LONG_PTR r = 0;
  Check(m_Window->CallPrevWndProc(msg, wParam, lParam, &r), kSource);
  return r;
}

HMENU CGlyphary::WindowMenu() {
  LONG menu = 0;
  Check(m_Window->get_hMenu(&menu), kSource);
  return HandleFromLong<HMENU>(menu);
}

HWND CGlyphary::FormWindow() {
  LONG hwnd = 0;
  Check(m_Window->get_hWnd(&hwnd), kSource);
  return HandleFromLong<HWND>(hwnd);
}

ItemRecord& CGlyphary::Item(int32_t slot) {
  if (slot < 0 || slot >= kItemStoreSize) Raise(common::errSubscriptOutOfRange, kSource);
  return m_Items[static_cast<size_t>(slot)];
}

}  // namespace glyphary
