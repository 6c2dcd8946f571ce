// The IUnknown and IDispatch part of the tests' stand-in COM objects. A stand-in lives on its user's
// stack (or as a member), so Release never deletes it; it answers QueryInterface for IUnknown,
// IDispatch and its own interfaces, and it has no type information to offer.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include "hookwire_h.h"

namespace testing_support {

template <typename Interface, const IID& Own, const IID& Base = IID_IDispatch>
class StandIn : public Interface {
 public:
  LONG refs() const { return refs_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == Own || iid == Base) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    if (!n) return E_POINTER;
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 protected:
  LONG refs_ = 1;  // the owner's
};

// A window object that does nothing: every property a test does not replace is refused, and
// switching the capture or the filter succeeds without effect.
class StandInWindow : public StandIn<_HookwireWindow, IID__HookwireWindow> {
 public:
  HRESULT STDMETHODCALLTYPE get_hWnd(LONG* v) override { *v = 0; return S_OK; }
  HRESULT STDMETHODCALLTYPE put_hWnd(LONG) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE CallPrevWndProc(LONG, LONG_PTR, LONG_PTR, LONG_PTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Caption(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_hMenu(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Children(_HookwireWindows**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AttachDesktop() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Subclassed(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Subclassed(VARIANT_BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_WatchMessage(LONG, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_WatchMessage(LONG, VARIANT_BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_MessageSink(IhkMessageSink**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE putref_MessageSink(IhkMessageSink*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_CannotSubclass(VARIANT_BOOL* v) override { *v = VARIANT_FALSE; return S_OK; }
  HRESULT STDMETHODCALLTYPE get_ClassName(BSTR*) override { return E_NOTIMPL; }
};

}  // namespace testing_support
