// PackageClient.exe <folder>: a client of the installed package that knows the classes by their
// ProgIDs only, as a script or an application would. For each class it checks that the object
// comes from <folder> (the package's folder for this bitness) and that its type library is
// registered, then runs a small round of calls: a watched message on a window of its own through
// HookwireWindow, and a menu prepared by CGlyphary on a form of its own.
// Exit code: 0 all done; 10 a ProgID is not known (nothing registered where COM looks);
// 1 anything else failed (a line on standard error says what).
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "form_object.h"
#include "hookwire_h.h"
#include "image_list_object.h"
#include "stand_in.h"

namespace {

using common::com_ptr;

constexpr UINT kWatched = WM_APP + 7;
constexpr ULONG_PTR kItemMarker = 0x8C2D;  // the high word of the items the component draws

bool Fail(const wchar_t* what, HRESULT hr = S_OK) {
  std::fwprintf(stderr, L"PackageClient: %ls (0x%08lX)\n", what, static_cast<unsigned long>(hr));
  return false;
}

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(towlower(c));
  return s;
}

// The file a module of this process was loaded from.
std::wstring ModulePath(const wchar_t* name) {
  HMODULE m = GetModuleHandleW(name);
  if (!m) return L"";
  wchar_t buf[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(m, buf, static_cast<DWORD>(std::size(buf)));
  return std::wstring(buf, n);
}

bool FromFolder(const wchar_t* dll, const std::wstring& folder) {
  const std::wstring path = ModulePath(dll);
  std::wprintf(L"  %ls loaded from %ls\n", dll, path.c_str());
  std::wstring want = Lower(folder);
  if (!want.empty() && want.back() != L'\\') want += L'\\';
  if (Lower(path) != want + Lower(dll)) return Fail((std::wstring(dll) + L" is not the package's").c_str());
  return true;
}

// Creates a class by its ProgID; hr says why not.
com_ptr<IDispatch> Create(const wchar_t* progid, HRESULT* hr) {
  com_ptr<IDispatch> object;
  CLSID clsid;
  *hr = CLSIDFromProgID(progid, &clsid);
  if (SUCCEEDED(*hr)) *hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.put_void());
  return object;
}

// The object's type library is the registered one: found again by its identifier and version.
bool TypeLibraryRegistered(IDispatch* object, const wchar_t* library_name) {
  com_ptr<ITypeInfo> info;
  HRESULT hr = object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put());
  if (FAILED(hr)) return Fail(L"GetTypeInfo", hr);
  com_ptr<ITypeLib> lib;
  UINT index = 0;
  hr = info->GetContainingTypeLib(lib.put(), &index);
  if (FAILED(hr)) return Fail(L"GetContainingTypeLib", hr);
  TLIBATTR* attr = nullptr;
  if (FAILED(hr = lib->GetLibAttr(&attr))) return Fail(L"GetLibAttr", hr);
  const GUID libid = attr->guid;
  const WORD major = attr->wMajorVerNum, minor = attr->wMinorVerNum;
  lib->ReleaseTLibAttr(attr);
  com_ptr<ITypeLib> registered;
  hr = LoadRegTypeLib(libid, major, minor, 0, registered.put());
  if (FAILED(hr)) return Fail(L"LoadRegTypeLib: the type library is not registered for this bitness", hr);
  BSTR name = nullptr;
  hr = registered->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  const bool same = SUCCEEDED(hr) && name && std::wcscmp(name, library_name) == 0;
  std::wprintf(L"  type library %ls %u.%u registered\n", name ? name : L"?", major, minor);
  SysFreeString(name);
  return same || Fail(L"the registered type library has another name", hr);
}

class ReplyingSink : public testing_support::StandIn<IhkMessageSink, IID_IhkMessageSink> {
 public:
  LONG count = 0;
  LONG_PTR wparam = 0, lparam = 0;
  HRESULT STDMETHODCALLTYPE Message(LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR* result) override {
    if (static_cast<UINT>(msg) != kWatched) return S_OK;
    ++count;
    wparam = wp;
    lparam = lp;
    *result = wp + lp;
    return S_OK;
  }
};

bool WatchedMessage(IDispatch* object) {
  com_ptr<_HookwireWindow> window;
  HRESULT hr = object->QueryInterface(IID__HookwireWindow, window.put_void());
  if (FAILED(hr)) return Fail(L"HookwireWindow has no _HookwireWindow", hr);
  HWND hwnd = CreateWindowExW(0, L"STATIC", L"watched", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  if (!hwnd) return Fail(L"CreateWindowEx", HRESULT_FROM_WIN32(GetLastError()));
  ReplyingSink sink;
  bool ok = SUCCEEDED(hr = window->put_hWnd(static_cast<LONG>(reinterpret_cast<LONG_PTR>(hwnd)))) &&
            SUCCEEDED(hr = window->put_WatchMessage(kWatched, VARIANT_TRUE)) &&
            SUCCEEDED(hr = window->putref_MessageSink(&sink)) &&
            SUCCEEDED(hr = window->put_Subclassed(VARIANT_TRUE));
  LRESULT answer = ok ? SendMessageW(hwnd, kWatched, 40, 2) : 0;
  window->put_Subclassed(VARIANT_FALSE);
  window->putref_MessageSink(nullptr);
  DestroyWindow(hwnd);
  if (!ok) return Fail(L"watching a window", hr);
  std::wprintf(L"  watched message: %ld delivered, wParam %ld, lParam %ld, answered %ld\n", sink.count,
               static_cast<long>(sink.wparam), static_cast<long>(sink.lparam), static_cast<long>(answer));
  if (sink.count != 1 || sink.wparam != 40 || sink.lparam != 2 || answer != 42) return Fail(L"the watched message");
  return true;
}

VARIANT Dispatch(IDispatch* d) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = d;
  return v;
}

HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, nullptr, nullptr);
}

bool PreparedMenu(IDispatch* component) {
  com_ptr<client::FormObject> form = client::FormObject::Create(L"package client");
  client::MenuControl* file = form->AddPopup(nullptr, L"mnuFile", L"&File");
  client::MenuControl* open = form->AddItem(file->SubMenu(), L"mnuOpen", L"&Open\tCtrl+O");
  HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 1, 0);
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
  ReleaseDC(nullptr, screen);
  ImageList_AddMasked(list, bitmap, RGB(255, 0, 255));
  DeleteObject(bitmap);
  com_ptr<IDispatch> images = client::NewImageListObject(list);
  IDispatch* images_ref = images.get();
  IDispatch* form_ref = static_cast<IDispatch*>(form.get());
  VARIANT by_ref_images;
  V_VT(&by_ref_images) = VT_BYREF | VT_DISPATCH;
  V_DISPATCHREF(&by_ref_images) = &images_ref;
  VARIANT by_ref_form;
  V_VT(&by_ref_form) = VT_BYREF | VT_DISPATCH;
  V_DISPATCHREF(&by_ref_form) = &form_ref;
  LONG index = 1;
  BSTR name = SysAllocString(L"mnuOpen");
  VARIANT index_arg, name_arg;
  V_VT(&index_arg) = VT_BYREF | VT_I4;
  V_I4REF(&index_arg) = &index;
  V_VT(&name_arg) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&name_arg) = &name;
  HRESULT hr = Call(component, L"ImageList", DISPATCH_PROPERTYPUTREF, {by_ref_images});
  if (SUCCEEDED(hr)) hr = Call(component, L"Form", DISPATCH_PROPERTYPUT, {by_ref_form});
  if (SUCCEEDED(hr)) hr = Call(component, L"SetItemImage", DISPATCH_METHOD, {index_arg, name_arg});
  SysFreeString(name);
  if (FAILED(hr)) return Fail(L"ImageList, Form, SetItemImage", hr);
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE | MIIM_DATA;
  const bool read = GetMenuItemInfoW(file->SubMenu(), open->CommandId(), FALSE, &info);
  std::wprintf(L"  prepared menu: Open is %ls, item data %lX\n", (info.fType & MFT_OWNERDRAW) ? L"owner-drawn" : L"not owner-drawn",
               static_cast<unsigned long>(info.dwItemData));
  Call(component, L"Form", DISPATCH_PROPERTYPUT, {Dispatch(nullptr)});
  form->Close();
  if (!read || !(info.fType & MFT_OWNERDRAW) || ((info.dwItemData >> 16) & 0xFFFF) != kItemMarker)
    return Fail(L"the component did not prepare the form's menu");
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: PackageClient <the package's folder for this bitness>\n");
    return 2;
  }
  const std::wstring folder = argv[1];
  if (FAILED(OleInitialize(nullptr))) return Fail(L"OleInitialize"), 1;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  int status = 0;
  {
    struct Class {
      const wchar_t* progid;
      const wchar_t* dll;
      const wchar_t* library;
      bool (*round)(IDispatch*);
    };
    const Class classes[] = {
        {L"Hookwire.HookwireWindow", L"Hookwire.dll", L"Hookwire", WatchedMessage},
        {L"Glyphary.CGlyphary", L"Glyphary.dll", L"Glyphary", PreparedMenu},
    };
    for (const Class& c : classes) {
      std::wprintf(L"%ls\n", c.progid);
      HRESULT hr;
      com_ptr<IDispatch> object = Create(c.progid, &hr);
      if (!object) {
        Fail(L"cannot create the class", hr);
        status = hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG ? (status ? status : 10) : 1;
        continue;
      }
      if (!FromFolder(c.dll, folder) || !TypeLibraryRegistered(object.get(), c.library) || !c.round(object.get()))
        status = 1;
    }
  }
  OleUninitialize();
  std::wprintf(L"%ls\n", status == 0 ? L"all done" : L"FAILED");
  return status;
}
