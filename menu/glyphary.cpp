#include "glyphary.h"

#include <algorithm>
#include <array>
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

// The arguments handed on to the type library's Invoke. That Invoke writes each [in, out]
// argument that is not by reference back into the array it was given, clearing what was there;
// so every value here is our own copy, never a string or object the caller still holds.
// By-reference arguments of a declared type are handed on as they are: the callee then works
// on the caller's own storage, as by-reference means.
class OwnedArgs {
 public:
  OwnedArgs() = default;
  OwnedArgs(const OwnedArgs&) = delete;
  OwnedArgs& operator=(const OwnedArgs&) = delete;
  ~OwnedArgs() {
    for (VARIANT& v : args) VariantClear(&v);
  }
  // A copy of a, a variant passed by reference unwrapped to the value it holds.
  HRESULT Append(const VARIANT& a) {
    const VARIANT* p = &a;
    while (V_VT(p) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(p)) p = V_VARIANTREF(p);
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = V_ISBYREF(p) ? (v = *p, S_OK) : VariantCopy(&v, const_cast<VARIANT*>(p));
    if (FAILED(hr)) return hr;
    args.push_back(v);
    return S_OK;
  }
  // Copies of every argument of params, checked for a consistent shape first.
  HRESULT AppendAll(const DISPPARAMS* params) {
    if (!params || (params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs) ||
        params->cNamedArgs > params->cArgs)
      return E_INVALIDARG;
    for (UINT i = 0; i < params->cArgs; ++i) {
      const HRESULT hr = Append(params->rgvarg[i]);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  // After the call: each variant the caller passed by reference gets the value its copy holds.
  void WriteBack(const DISPPARAMS& params) {
    for (UINT i = 0; i < params.cArgs && i < args.size(); ++i) {
      VARIANT* p = &params.rgvarg[i];
      if (V_VT(p) != (VT_BYREF | VT_VARIANT)) continue;
      while (V_VT(p) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(p)) p = V_VARIANTREF(p);
      if (!V_ISBYREF(p) && !V_ISBYREF(&args[i])) VariantCopy(p, &args[i]);
    }
  }
  std::vector<VARIANT> args;
};

bool IsMissing(const VARIANT& v) { return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND; }

}  // namespace

// --- lifecycle ------------------------------------------------------------------------

CGlyphary::CGlyphary() : m_Thread(GetCurrentThreadId()) {
  Check(CoCreateInstance(CLSID_HookwireWindow, nullptr, CLSCTX_INPROC_SERVER, IID__HookwireWindow,
                         m_Window.put_void()),
        kSource);
  Enlist(this, true);
}

CGlyphary::~CGlyphary() {
  Enlist(this, false);
  // Registrations and the sink are not withdrawn first: with subclassing off nothing arrives.
  if (m_Window) m_Window->put_Subclassed(VARIANT_FALSE);
  m_Window.reset();
  // Nobody answers WM_MEASUREITEM and WM_DRAWITEM from now on: every item gets its text item back.
  try {
    ReleasePreparedItems();
  } catch (...) {
  }
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
// omitted optional by-reference argument with its default value used as a pointer, does not
// place arguments passed by name, and refuses a variant passed by reference where a Long or
// String is declared. So the arguments of SetItemImage are put in their places here, MenuIndex
// supplied as a by-reference temporary holding "no index" whenever it is neither passed by
// position nor by name, and variants passed by reference are handed on as (copies of) the
// values they hold.
HRESULT CGlyphary::InvokeComponent(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                   UINT* arg_err) {
  ITypeInfo* info = dispatch_.info();
  if (!info) return TYPE_E_CANTLOADLIBRARY;
  try {
    OwnedArgs owned;
    if (const HRESULT hr = owned.AppendAll(params); FAILED(hr)) return hr;
    if (id != kDispidSetItemImage || !(flags & DISPATCH_METHOD)) {
      DISPPARAMS call{owned.args.data(), params->rgdispidNamedArgs, params->cArgs, params->cNamedArgs};
      return info->Invoke(static_cast<_CGlyphary*>(this), id, flags, &call, result, excep, arg_err);
    }

    // SetItemImage(ImageIndex, sMenuName, [MenuIndex]): parameter p is the named argument with
    // id p, else the p-th positional one (positional arguments run last first).
    constexpr UINT kParams = 3;
    constexpr UINT kNone = ~0u;
    const UINT count = params->cArgs;
    const UINT named = params->cNamedArgs;
    const UINT positional = count - named;
    if (positional > kParams) return DISP_E_BADPARAMCOUNT;
    std::array<UINT, kParams> from;  // the caller's index of each parameter's argument
    from.fill(kNone);
    for (UINT k = 0; k < positional; ++k) from[k] = count - 1 - k;
    for (UINT j = 0; j < named; ++j) {
      const DISPID p = params->rgdispidNamedArgs[j];
      if (p < 0 || static_cast<UINT>(p) >= kParams || from[static_cast<UINT>(p)] != kNone) {
        if (arg_err) *arg_err = j;
        return DISP_E_PARAMNOTFOUND;
      }
      from[static_cast<UINT>(p)] = j;
    }
    for (UINT p = 0; p + 1 < kParams; ++p) {
      if (from[p] == kNone || IsMissing(owned.args[from[p]]))
        return named ? DISP_E_PARAMNOTFOUND : DISP_E_BADPARAMCOUNT;
    }
    LONG no_menu_index = kNoMenuIndex;
    VARIANT omitted;
    VariantInit(&omitted);
    V_VT(&omitted) = VT_BYREF | VT_I4;
    V_I4REF(&omitted) = &no_menu_index;
    // The arguments move to their places: what the member writes back is cleared with them.
    OwnedArgs placed;
    placed.args.resize(kParams);
    for (UINT p = 0; p < kParams; ++p) {
      VARIANT& to = placed.args[kParams - 1 - p];
      if (from[p] == kNone || IsMissing(owned.args[from[p]])) {
        to = omitted;
      } else {
        to = owned.args[from[p]];
        VariantInit(&owned.args[from[p]]);
      }
    }
    DISPPARAMS call{placed.args.data(), nullptr, kParams, 0};
    const HRESULT hr = info->Invoke(static_cast<_CGlyphary*>(this), id, flags, &call, result, excep, arg_err);
    // A bad argument is reported by its place in the caller's array.
    if (FAILED(hr) && arg_err && *arg_err < kParams) {
      const UINT caller = from[kParams - 1 - *arg_err];
      *arg_err = caller == kNone ? 0 : caller;
    }
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// The sink's late-bound callers reach Message through the sink interface's type information.
HRESULT SinkDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* excep, UINT* arg_err) {
  ITypeInfo* info = sink_dispatch_.info();
  if (!info) return TYPE_E_CANTLOADLIBRARY;
  try {
    OwnedArgs owned;
    if (const HRESULT hr = owned.AppendAll(params); FAILED(hr)) return hr;
    DISPPARAMS call{owned.args.data(), params->rgdispidNamedArgs, params->cArgs, params->cNamedArgs};
    const HRESULT hr = info->Invoke(static_cast<IhkMessageSink*>(this), id, flags, &call, result, excep, arg_err);
    if (SUCCEEDED(hr)) owned.WriteBack(*params);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// --- public members -------------------------------------------------------------------------

HRESULT CGlyphary::putref_ImageList(IDispatch** img) {
  COM_METHOD_BEGIN
  com_ptr<IDispatch> list(img ? *img : nullptr);
  unique_variant v;
  GetProperty(list.get(), L"ImageWidth", v.get(), kSource);
  const LONG width = ToLong(*v.get(), kSource);
  GetProperty(list.get(), L"ImageHeight", v.put(), kSource);
  const LONG height = ToLong(*v.get(), kSource);
  // Items and buffers are sized from these: an image list reporting absurd sizes is refused
  // before anything changes.
  if (width < kMinPictureSide || width > kMaxPictureSide || height < kMinPictureSide || height > kMaxPictureSide)
    Raise(common::errInvalidArgument, kSource,
          L"The image list's pictures must be 1 to 256 pixels wide and high; it reports " + std::to_wstring(width) +
              L" x " + std::to_wstring(height));
  m_ImageList = std::move(list);
  m_ImageWidth = width;
  m_ImageHeight = height;
  m_Pictures.Clear();
  UpdateCell();
  COM_METHOD_END(kSource, IID__CGlyphary)
}

HRESULT CGlyphary::put_Form(IDispatch** frm) {
  COM_METHOD_BEGIN
  com_ptr<IDispatch> previous = std::move(m_Form);
  m_Form = com_ptr<IDispatch>(frm ? *frm : nullptr);
  unique_variant v;
  GetProperty(m_Form.get(), L"hwnd", v.get(), kSource);
  const LONG handle = ToLong(*v.get(), kSource);
  // The menus and the message parameters of a window are only ours to read on its own thread:
  // another thread's or program's window is refused, and the form before it stays.
  const HWND window = HandleFromLong<HWND>(handle);
  if (window && IsWindow(window) && GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) {
    m_Form = std::move(previous);
    Raise(common::errInvalidArgument, kSource,
          L"The form's window belongs to another thread or program: Glyphary draws the menus of a window of "
          L"the calling thread only");
  }
  Check(m_Window->put_hWnd(handle), m_Window.get(), IID__HookwireWindow, kSource);
  LONG hwnd = 0;
  Check(m_Window->get_hWnd(&hwnd), m_Window.get(), IID__HookwireWindow, kSource);
  if (hwnd) Attach();
  else Detach();
  COM_METHOD_END(kSource, IID__CGlyphary)
}

void CGlyphary::Attach() {
  for (UINT msg : kWatchedMessages)
    Check(m_Window->put_WatchMessage(static_cast<LONG>(msg), VARIANT_TRUE), m_Window.get(), IID__HookwireWindow,
          kSource);
  Check(m_Window->put_Subclassed(VARIANT_TRUE), m_Window.get(), IID__HookwireWindow, kSource);
  Check(m_Window->putref_MessageSink(static_cast<IhkMessageSink*>(this)), m_Window.get(), IID__HookwireWindow, kSource);
  ReadMenuSettings();
  if (WindowDpi(FormWindow()) != m_Dpi) ApplyDpi(WindowDpi(FormWindow()));
  m_MenuFont = GetMenuFont();
  // Items prepared for an earlier Form hold slots that numbering from 0 would hand out again.
  ReleasePreparedItems();
  PrepareMenu(WindowMenu(), 1, true);
  m_FirstPopup = GetSubMenu(WindowMenu(), 0);
}

void CGlyphary::Detach() {
  Check(m_Window->put_WatchMessage(kAllMessages, VARIANT_FALSE), m_Window.get(), IID__HookwireWindow, kSource);
  Check(m_Window->put_Subclassed(VARIANT_FALSE), m_Window.get(), IID__HookwireWindow, kSource);
  Check(m_Window->putref_MessageSink(nullptr), m_Window.get(), IID__HookwireWindow, kSource);
  ReleasePreparedItems();
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
    case WM_SETTINGCHANGE: {
      const bool was_platform_drawn = m_PlatformDrawn;
      ReadMenuSettings();
      RebuildMenuFont();
      PrepareMenu(WindowMenu(), 1, true);
      if (was_platform_drawn != m_PlatformDrawn) DrawMenuBar(FormWindow());  // the bar measured anew
      *result = PassOn(msg, wParam, lParam);
      break;
    }
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
      // The application's own handler first (it enables, checks, adds and renames items there),
      // then the popup as the handler left it is prepared; the application's answer stands.
      *result = PassOn(msg, wParam, lParam);
      PrepareMenu(reinterpret_cast<HMENU>(wParam), static_cast<int32_t>(lParam), false);
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
  if (!lParam) return 0;
  const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
  // Only items whose slot holds this component's record of them; anything else is passed on.
  if (dis->CtlType != ODT_MENU || SlotInUse(dis->itemData) < 0) return 0;
  PaintContext context;
  // This platform never sets ODS_DEFAULT for an owner-drawn item: the menu says which is default.
  const UINT default_id = GetMenuDefaultItem(reinterpret_cast<HMENU>(dis->hwndItem), FALSE, GMDI_USEDISABLED);
  context.default_item = default_id != static_cast<UINT>(-1) && default_id == dis->itemID;
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
  // Without an image list the default picture size stands, scaled like any other.
  const int32_t gaps = ScalePixels(6, m_Dpi);
  m_CellWidth = common::CheckedAdd(PictureSide(m_ImageWidth, m_Dpi), gaps, kSource);
  m_CellHeight = common::CheckedAdd(PictureSide(m_ImageHeight, m_Dpi), gaps, kSource);
}

void CGlyphary::ReadMenuSettings() {
  m_KeyboardCues = KeyboardCuesShown();
  m_FlatMenus = FlatMenus();
  // Owner-drawn menus hide their items from screen readers' own drawing and tracking: while one
  // runs, the platform draws the menus (the items go back to text items until it stops).
  const bool platform_drawn = ScreenReaderRunning();
  if (platform_drawn && !m_PlatformDrawn) ReleasePreparedItems();
  m_PlatformDrawn = platform_drawn;
}

// --- internal helpers -------------------------------------------------------------------------

LONG_PTR CGlyphary::PassOn(LONG msg, LONG_PTR wParam, LONG_PTR lParam) {
  LONG_PTR r = 0;
  Check(m_Window->CallPrevWndProc(msg, wParam, lParam, &r), m_Window.get(), IID__HookwireWindow, kSource);
  return r;
}

HMENU CGlyphary::WindowMenu() {
  LONG menu = 0;
  Check(m_Window->get_hMenu(&menu), m_Window.get(), IID__HookwireWindow, kSource);
  return HandleFromLong<HMENU>(menu);
}

HWND CGlyphary::FormWindow() {
  LONG hwnd = 0;
  Check(m_Window->get_hWnd(&hwnd), m_Window.get(), IID__HookwireWindow, kSource);
  return HandleFromLong<HWND>(hwnd);
}

ItemRecord& CGlyphary::Item(int32_t slot) {
  if (slot < 0 || slot >= kItemStoreSize) Raise(common::errSubscriptOutOfRange, kSource);
  return m_Items[static_cast<size_t>(slot)];
}

}  // namespace glyphary
