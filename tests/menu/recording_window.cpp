#include "recording_window.h"

#include <gtest/gtest.h>

#include "com_ptr.h"
#include "hex.h"
#include "hookwire_h.h"

using common::com_ptr;

namespace menu_test {

namespace {

std::vector<std::wstring>* g_log = nullptr;

void Note(const std::wstring& s) {
  if (g_log) g_log->push_back(s);
}

std::wstring Bool(VARIANT_BOOL b) { return b ? L"True" : L"False"; }

// Passes every message on to the component's sink and writes down its answer.
class RecordingSink final : public IhkMessageSink {
 public:
  IhkMessageSink* inner = nullptr;  // not counted, as the window object does not count it
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IhkMessageSink) {
      *out = static_cast<IhkMessageSink*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return inner ? inner->AddRef() : 1; }
  ULONG STDMETHODCALLTYPE Release() override { return inner ? inner->Release() : 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return inner->GetTypeInfoCount(n); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return inner->GetTypeInfo(i, l, t); }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l, DISPID* d) override {
    return inner->GetIDsOfNames(r, n, c, l, d);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID d, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v, EXCEPINFO* e,
                                   UINT* a) override {
    return inner->Invoke(d, r, l, f, p, v, e, a);
  }
  HRESULT STDMETHODCALLTYPE Message(LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR* result) override {
    HRESULT hr = inner->Message(msg, wp, lp, result);
    std::wstring e = L"Message " + common::Hex(msg) + L" -> " + std::to_wstring(static_cast<long long>(*result));
    if (FAILED(hr)) e += L" failed " + common::Hex(hr);
    Note(e);
    return hr;
  }
};

class RecordingWindow final : public _HookwireWindow {
 public:
  explicit RecordingWindow(com_ptr<_HookwireWindow> real) : real_(std::move(real)) {}
  ~RecordingWindow() { Note(L"released"); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__HookwireWindow) {
      *out = static_cast<_HookwireWindow*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return real_->GetTypeInfoCount(n); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return real_->GetTypeInfo(i, l, t); }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l, DISPID* d) override {
    return real_->GetIDsOfNames(r, n, c, l, d);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID d, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v, EXCEPINFO* e,
                                   UINT* a) override {
    return real_->Invoke(d, r, l, f, p, v, e, a);
  }
  HRESULT STDMETHODCALLTYPE get_hWnd(LONG* v) override { return real_->get_hWnd(v); }
  HRESULT STDMETHODCALLTYPE put_hWnd(LONG v) override {
    Note(L"hWnd " + common::Hex(v));
    return real_->put_hWnd(v);
  }
  HRESULT STDMETHODCALLTYPE CallPrevWndProc(LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR* r) override {
    Note(L"CallPrevWndProc " + common::Hex(msg));
    return real_->CallPrevWndProc(msg, wp, lp, r);
  }
  HRESULT STDMETHODCALLTYPE get_Caption(BSTR* v) override { return real_->get_Caption(v); }
  HRESULT STDMETHODCALLTYPE get_hMenu(LONG* v) override { return real_->get_hMenu(v); }
  HRESULT STDMETHODCALLTYPE get_Children(_HookwireWindows** v) override { return real_->get_Children(v); }
  HRESULT STDMETHODCALLTYPE AttachDesktop() override { return real_->AttachDesktop(); }
  HRESULT STDMETHODCALLTYPE get_Subclassed(VARIANT_BOOL* v) override { return real_->get_Subclassed(v); }
  HRESULT STDMETHODCALLTYPE put_Subclassed(VARIANT_BOOL v) override {
    Note(L"Subclassed " + Bool(v));
    return real_->put_Subclassed(v);
  }
  HRESULT STDMETHODCALLTYPE get_WatchMessage(LONG m, VARIANT_BOOL* v) override { return real_->get_WatchMessage(m, v); }
  HRESULT STDMETHODCALLTYPE put_WatchMessage(LONG m, VARIANT_BOOL v) override {
    Note(L"WatchMessage " + common::Hex(m) + L" " + Bool(v));
    return real_->put_WatchMessage(m, v);
  }
  HRESULT STDMETHODCALLTYPE get_MessageSink(IhkMessageSink** v) override { return real_->get_MessageSink(v); }
  HRESULT STDMETHODCALLTYPE putref_MessageSink(IhkMessageSink* v) override {
    Note(v ? L"MessageSink set" : L"MessageSink nothing");
    sink_.inner = v;
    return real_->putref_MessageSink(v ? &sink_ : nullptr);
  }
  HRESULT STDMETHODCALLTYPE get_CannotSubclass(VARIANT_BOOL* v) override { return real_->get_CannotSubclass(v); }
  HRESULT STDMETHODCALLTYPE get_ClassName(BSTR* v) override { return real_->get_ClassName(v); }

 private:
  com_ptr<_HookwireWindow> real_;
  RecordingSink sink_;
  ULONG refs_ = 1;
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) override {
    // The real object, from the registered Hookwire.dll's own class factory.
    using GetClass = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    HMODULE dll = LoadLibraryW(L"Hookwire.dll");
    auto get = reinterpret_cast<GetClass>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    if (!get) return E_FAIL;
    com_ptr<IClassFactory> real_factory;
    HRESULT hr = get(CLSID_HookwireWindow, IID_IClassFactory, real_factory.put_void());
    if (FAILED(hr)) return hr;
    com_ptr<_HookwireWindow> real;
    hr = real_factory->CreateInstance(nullptr, IID__HookwireWindow, real.put_void());
    if (FAILED(hr)) return hr;
    Note(L"created");
    auto* w = new RecordingWindow(std::move(real));
    hr = w->QueryInterface(iid, out);
    w->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  ULONG refs_ = 1;
};

}  // namespace

RecordedWindows::RecordedWindows() {
  g_log = &log;
  auto* f = new Factory();
  factory_ = f;
  HRESULT hr = CoRegisterClassObject(CLSID_HookwireWindow, f, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
  EXPECT_EQ(S_OK, hr);
}

RecordedWindows::~RecordedWindows() {
  CoRevokeClassObject(cookie_);
  static_cast<Factory*>(factory_)->Release();
  g_log = nullptr;
}

std::vector<std::wstring> RecordedWindows::Matching(const std::wstring& prefix, size_t from) const {
  std::vector<std::wstring> r;
  for (size_t i = from; i < log.size(); ++i)
    if (log[i].compare(0, prefix.size(), prefix) == 0) r.push_back(log[i]);
  return r;
}

}  // namespace menu_test
