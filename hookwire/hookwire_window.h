// HookwireWindow: stands for one window; subclasses it on request and hands
// each watched message to the client's sink, on the client's thread.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <bitset>
#include <memory>

#include "com_ptr.h"
#include "com_server.h"
#include "hookwire_h.h"
#include "message_details.h"
#include "remote_capture.h"
#include "subclass_chain.h"

namespace hookwire {

class HookwireWindow final : public _HookwireWindow, public ISupportErrorInfo, public common::RefCounted {
 public:
  HookwireWindow();
  ~HookwireWindow() override;

  // IUnknown / IDispatch
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  COMMON_IUNKNOWN_IMPL
  COMMON_IDISPATCH_IMPL(dispatch_, _HookwireWindow)

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // _HookwireWindow
  HRESULT STDMETHODCALLTYPE get_hWnd(LONG* value) override;
  HRESULT STDMETHODCALLTYPE put_hWnd(LONG value) override;
  HRESULT STDMETHODCALLTYPE CallPrevWndProc(LONG msg, LONG_PTR wParam, LONG_PTR lParam, LONG_PTR* result) override;
  HRESULT STDMETHODCALLTYPE get_Caption(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE get_hMenu(LONG* value) override;
  HRESULT STDMETHODCALLTYPE get_Children(_HookwireWindows** value) override;
  HRESULT STDMETHODCALLTYPE AttachDesktop() override;
  HRESULT STDMETHODCALLTYPE get_Subclassed(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE put_Subclassed(VARIANT_BOOL value) override;
  HRESULT STDMETHODCALLTYPE get_WatchMessage(LONG msg, VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE put_WatchMessage(LONG msg, VARIANT_BOOL value) override;
  HRESULT STDMETHODCALLTYPE get_MessageSink(IhkMessageSink** value) override;
  HRESULT STDMETHODCALLTYPE putref_MessageSink(IhkMessageSink* value) override;
  HRESULT STDMETHODCALLTYPE get_CannotSubclass(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_ClassName(BSTR* value) override;

  // IhkCaptureInfo and IhkMessageDetails, through their own small object that shares this
  // object's reference count.
  HRESULT get_LostMessages(LONG* count) noexcept;
  HRESULT get_CaptureEnded(VARIANT_BOOL* value) noexcept;
  HRESULT get_EndReason(LONG* value) noexcept;
  HRESULT DetailsProperty(DISPID id, LONG index, VARIANT* out) noexcept;

  // Creates a window object already standing for h (used by Children).
  static common::com_ptr<HookwireWindow> ForWindow(HWND h);

  // A message of a window of another thread or program, captured in its program and
  // brought to this thread; the sink's result is not used.
  void DeliverCaptured(const MessageDetails& details) noexcept;
  // The capture of another thread's or program's window ended on its own (HookwireEndReason):
  // it is stopped here, and the client can read why.
  void CaptureEnded(LONG reason) noexcept;

 private:
  // One message being handed to the sink; the innermost is on top.
  struct Delivery {
    UINT msg;
    bool passed_on;  // the sink called CallPrevWndProc
    Delivery* outer;
    ChainPosition at;  // where the message goes on from
  };

  // This object's layer in its window's subclass chain.
  class Layer final : public SubclassLayer {
   public:
    explicit Layer(HookwireWindow* owner) noexcept : owner_(owner) {}
    LRESULT OnMessage(const ChainPosition& at, HWND h, UINT msg, WPARAM wp, LPARAM lp) override {
      return owner_->OnMessage(at, h, msg, wp, lp);
    }

   private:
    HookwireWindow* owner_;
  };

  // The second and third interfaces: they dispatch through their own type information, so they
  // cannot share the window interface's IDispatch members.
  class CaptureInfo final : public IhkMessageDetails {
   public:
    explicit CaptureInfo(HookwireWindow* owner) : owner_(owner), dispatch_(IID_IhkMessageDetails) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      return owner_->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
    COMMON_IDISPATCH_IMPL(dispatch_, IhkMessageDetails)
    HRESULT STDMETHODCALLTYPE get_LostMessages(LONG* count) override { return owner_->get_LostMessages(count); }
    HRESULT STDMETHODCALLTYPE get_CaptureEnded(VARIANT_BOOL* v) override { return owner_->get_CaptureEnded(v); }
    HRESULT STDMETHODCALLTYPE get_EndReason(LONG* v) override { return owner_->get_EndReason(v); }
    HRESULT STDMETHODCALLTYPE get_Delivering(VARIANT_BOOL* v) override { return Get(2, 0, v); }
    HRESULT STDMETHODCALLTYPE get_Milliseconds(double* v) override { return Get(3, 0, v); }
    HRESULT STDMETHODCALLTYPE get_Time(DATE* v) override { return Get(4, 0, v); }
    HRESULT STDMETHODCALLTYPE get_Origin(LONG* v) override { return Get(5, 0, v); }
    HRESULT STDMETHODCALLTYPE get_ResultKnown(VARIANT_BOOL* v) override { return Get(6, 0, v); }
    HRESULT STDMETHODCALLTYPE get_Result(hyper* v) override { return Get(7, 0, v); }
    HRESULT STDMETHODCALLTYPE get_WParam64(hyper* v) override { return Get(8, 0, v); }
    HRESULT STDMETHODCALLTYPE get_LParam64(hyper* v) override { return Get(9, 0, v); }
    HRESULT STDMETHODCALLTYPE get_LostBefore(LONG* v) override { return Get(10, 0, v); }
    HRESULT STDMETHODCALLTYPE get_DataKind(LONG* v) override { return Get(11, 0, v); }
    HRESULT STDMETHODCALLTYPE get_DataCount(LONG* v) override { return Get(12, 0, v); }
    HRESULT STDMETHODCALLTYPE get_DataValue(LONG index, hyper* v) override { return Get(13, index, v); }
    HRESULT STDMETHODCALLTYPE get_DataText(BSTR* v) override { return Get(14, 0, v); }
    HRESULT STDMETHODCALLTYPE get_DataBytes(VARIANT* v) override {
      if (!v) return E_POINTER;
      VariantInit(v);
      return owner_->DetailsProperty(15, 0, v);
    }
    HRESULT STDMETHODCALLTYPE get_Target64Bit(VARIANT_BOOL* v) override { return Get(16, 0, v); }
    HRESULT STDMETHODCALLTYPE get_Window(LONG* v) override { return Get(19, 0, v); }
    HRESULT STDMETHODCALLTYPE get_WindowClass(BSTR* v) override { return Get(20, 0, v); }

   private:
    // Reads one property through a VARIANT and hands back the plain value.
    template <typename T>
    HRESULT Get(DISPID id, LONG index, T* out) {
      if (!out) return E_POINTER;
      VARIANT v;
      VariantInit(&v);
      HRESULT hr = owner_->DetailsProperty(id, index, &v);
      if (SUCCEEDED(hr)) Take(v, out);
      else *out = T{};
      return hr;
    }
    static void Take(VARIANT& v, VARIANT_BOOL* out) { *out = v.boolVal; }
    static void Take(VARIANT& v, double* out) { *out = v.vt == VT_DATE ? v.date : v.dblVal; }
    static void Take(VARIANT& v, LONG* out) { *out = v.lVal; }
    static void Take(VARIANT& v, hyper* out) { *out = v.llVal; }
    static void Take(VARIANT& v, BSTR* out) { *out = v.bstrVal; }

    HookwireWindow* owner_;
    common::TypeInfoDispatch dispatch_;
  };

  // The fourth: which windows a capture takes in.
  class Scope final : public IhkCaptureScope {
   public:
    explicit Scope(HookwireWindow* owner) : owner_(owner), dispatch_(IID_IhkCaptureScope) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      return owner_->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
    COMMON_IDISPATCH_IMPL(dispatch_, IhkCaptureScope)
    HRESULT STDMETHODCALLTYPE get_Scope(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_Scope(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_IncludeNewWindows(VARIANT_BOOL* v) override;
    HRESULT STDMETHODCALLTYPE put_IncludeNewWindows(VARIANT_BOOL v) override;
    HRESULT STDMETHODCALLTYPE get_IncludeMessageOnly(VARIANT_BOOL* v) override;
    HRESULT STDMETHODCALLTYPE put_IncludeMessageOnly(VARIANT_BOOL v) override;
    HRESULT STDMETHODCALLTYPE get_WatchedCount(LONG* v) override;
    HRESULT STDMETHODCALLTYPE get_WatchedWindow(LONG index, LONG* v) override;

   private:
    HRESULT Change(ULONG* field, ULONG value);
    HookwireWindow* owner_;
    std::vector<HWND> watched_;  // as WatchedCount last took it
    common::TypeInfoDispatch dispatch_;
  };

  LRESULT OnMessage(const ChainPosition& at, HWND h, UINT msg, WPARAM wp, LPARAM lp);
  bool Watches(UINT msg) const noexcept;
  bool Subclassable() const noexcept;
  bool OwnThreadWindow() const noexcept;
  void PublishFilter() noexcept;
  void Attach(HWND h) noexcept;
  void StartSubclass();
  void StopSubclass() noexcept;
  HWND Window() const noexcept;  // the window, or 0 once it is gone

  common::TypeInfoDispatch dispatch_;
  HWND hwnd_ = nullptr;
  bool subclassed_ = false;
  bool watch_all_ = false;
  std::unique_ptr<std::bitset<0x10000>> watched_;
  // The sink is not counted: a client that is its own sink (the usual case)
  // would otherwise never be released while attached. A delivery holds a
  // counted reference for as long as the sink runs.
  IhkMessageSink* sink_ = nullptr;
  Delivery* delivery_ = nullptr;
  Layer layer_{this};
  // Set while a window of another thread or program is captured through the hook.
  std::unique_ptr<RemoteCapture> remote_;
  // Messages lost by earlier captures of the same window.
  LONG lost_before_ = 0;
  // What came with the message being delivered now (the innermost delivery's).
  const MessageDetails* details_ = nullptr;
  LONGLONG start_time_ = 0;  // FILETIME when watching started
  // The last capture ended on its own, and why (HookwireEndReason).
  bool ended_ = false;
  LONG end_reason_ = 0;
  CaptureInfo capture_info_{this};
  // Which windows the next capture takes in (ring::Scope and ring::Options).
  ULONG scope_ = 0;
  ULONG scope_options_ = 0;
  Scope scope_object_{this};
};

}  // namespace hookwire
