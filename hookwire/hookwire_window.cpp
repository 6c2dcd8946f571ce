#include "hookwire_window.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "message_data.h"
#include "runtime_error.h"
#include "same_handle.h"
#include "subclass_chain.h"
#include "window_text.h"
#include "window_list.h"

using common::com_ptr;
using common::Raise;
using common::RuntimeError;
using common::WindowText;

namespace hookwire {

namespace {

constexpr const wchar_t* kSource = L"Hookwire.HookwireWindow";
constexpr LONG kAllMessages = 0xFFFF;

#define HW_END COM_METHOD_END(kSource, IID__HookwireWindow)

bool OwnThread(HWND h) noexcept { return GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId(); }

HRESULT ReturnString(const std::wstring& s, BSTR* out) {
  *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HookwireWindow::HookwireWindow() : dispatch_(IID__HookwireWindow) {}

HookwireWindow::~HookwireWindow() { StopSubclass(); }

com_ptr<HookwireWindow> HookwireWindow::ForWindow(HWND h) {
  com_ptr<HookwireWindow> w(new HookwireWindow(), false);
  w->hwnd_ = h;
  return w;
}

HRESULT HookwireWindow::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__HookwireWindow) {
    *out = static_cast<_HookwireWindow*>(this);
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else if (iid == IID_IhkCaptureInfo || iid == IID_IhkMessageDetails) {
    *out = static_cast<IhkMessageDetails*>(&capture_info_);
  } else if (iid == IID_IhkCaptureScope) {
    *out = static_cast<IhkCaptureScope*>(&scope_object_);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT HookwireWindow::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID__HookwireWindow || iid == IID_IhkMessageDetails || iid == IID_IhkCaptureScope ? S_OK : S_FALSE;
}

// --- attributes -----------------------------------------------------------------

HWND HookwireWindow::Window() const noexcept { return hwnd_ && IsWindow(hwnd_) ? hwnd_ : nullptr; }

bool HookwireWindow::OwnThreadWindow() const noexcept {
  HWND h = Window();
  return h && OwnThread(h);
}

// Windows of this thread are subclassed; windows of other threads and programs of the
// same bitness are captured through the hook; the desktop window is never watched.
bool HookwireWindow::Subclassable() const noexcept {
  HWND h = Window();
  if (!h || common::SameHandle(h, GetDesktopWindow())) return false;
  return OwnThread(h) || RemoteCapture::Available(h);
}

void HookwireWindow::PublishFilter() noexcept {
  if (remote_) remote_->SetFilter(watch_all_, watched_.get());
}

bool HookwireWindow::Watches(UINT msg) const noexcept {
  if (watch_all_) return true;
  return watched_ && msg < 0x10000 && watched_->test(msg);
}

HRESULT HookwireWindow::get_hWnd(LONG* value) {
  if (!value) return E_POINTER;
  *value = static_cast<LONG>(reinterpret_cast<LONG_PTR>(Window()));
  return S_OK;
}

HRESULT HookwireWindow::put_hWnd(LONG value) {
  HWND h = reinterpret_cast<HWND>(static_cast<LONG_PTR>(value));
  Attach(h && IsWindow(h) ? h : nullptr);
  return S_OK;
}

HRESULT HookwireWindow::AttachDesktop() {
  Attach(GetDesktopWindow());
  return S_OK;
}

void HookwireWindow::Attach(HWND h) noexcept {
  if (h == hwnd_ && subclassed_) return;
  StopSubclass();
  if (h != hwnd_) lost_before_ = 0;  // the count is per window
  hwnd_ = h;
}

HRESULT HookwireWindow::get_CaptureEnded(VARIANT_BOOL* value) noexcept {
  if (!value) return E_POINTER;
  *value = ended_ ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT HookwireWindow::get_EndReason(LONG* value) noexcept {
  if (!value) return E_POINTER;
  *value = ended_ ? end_reason_ : 0;
  return S_OK;
}

void HookwireWindow::CaptureEnded(LONG reason) noexcept {
  if (!subclassed_) return;
  ended_ = true;
  end_reason_ = reason;
  StopSubclass();
}

HRESULT HookwireWindow::get_LostMessages(LONG* count) noexcept {
  if (!count) return E_POINTER;
  *count = lost_before_ + (remote_ ? remote_->Lost() : 0);
  return S_OK;
}

namespace {

// FILETIME (UTC) to a DATE in local time, milliseconds kept. The offset of local time is asked
// for at most once a second (asking the platform costs more than a whole watched message).
DATE LocalDate(LONGLONG filetime) {
  // Plain Win32 lock, no thread-local storage: the DLL leaves nothing behind when unloaded.
  static SRWLOCK lock = SRWLOCK_INIT;
  static LONGLONG offset = 0;
  static DWORD asked = 0;
  static bool known = false;
  const DWORD now = GetTickCount();
  AcquireSRWLockExclusive(&lock);
  if (!known || now - asked >= 1000) {
    FILETIME utc{static_cast<DWORD>(filetime), static_cast<DWORD>(static_cast<ULONGLONG>(filetime) >> 32)}, local{};
    if (FileTimeToLocalFileTime(&utc, &local)) {
      offset = static_cast<LONGLONG>((static_cast<ULONGLONG>(local.dwHighDateTime) << 32) | local.dwLowDateTime) - filetime;
      asked = now;
      known = true;
    }
  }
  const LONGLONG t = filetime + offset;
  ReleaseSRWLockExclusive(&lock);
  constexpr double kDaysFrom1601To1899 = 109205.0;  // 1601-01-01 to 1899-12-30
  return static_cast<double>(t) / 864000000000.0 - kDaysFrom1601To1899;
}

}  // namespace

HRESULT HookwireWindow::DetailsProperty(DISPID id, LONG index, VARIANT* out) noexcept {
  if (!out) return E_POINTER;
  COM_METHOD_BEGIN
  if (id == 2) {
    out->vt = VT_BOOL;
    out->boolVal = details_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  if (!details_)
    Raise(common::errInvalidArgument, kSource, L"No message is being delivered: the details are only there while the sink runs");
  const ring::Record& r = details_->record;
  const ring::Data& data = details_->data;
  switch (id) {
    case 3:
      out->vt = VT_R8;
      out->dblVal = static_cast<double>(r.time - details_->start_time) / 10000.0;
      break;
    case 4:
      out->vt = VT_DATE;
      out->date = LocalDate(r.time);
      break;
    case 5: out->vt = VT_I4; out->lVal = static_cast<LONG>(r.origin); break;
    case 6: out->vt = VT_BOOL; out->boolVal = details_->result_known ? VARIANT_TRUE : VARIANT_FALSE; break;
    case 7: out->vt = VT_I8; out->llVal = details_->result_known ? r.result : 0; break;
    case 8: out->vt = VT_I8; out->llVal = r.wparam; break;
    case 9: out->vt = VT_I8; out->llVal = r.lparam; break;
    case 10: out->vt = VT_I4; out->lVal = details_->lost_before; break;
    case 11: out->vt = VT_I4; out->lVal = r.data_kind; break;
    case 12: out->vt = VT_I4; out->lVal = r.value_count; break;
    case 13:
      if (index < 0 || index >= r.value_count) Raise(common::errSubscriptOutOfRange, kSource);
      out->vt = VT_I8;
      out->llVal = data.values[index];
      break;
    case 14:
      out->vt = VT_BSTR;
      out->bstrVal = SysAllocStringLen(data.text, r.text_chars);
      if (!out->bstrVal) return E_OUTOFMEMORY;
      break;
    case 15: {
      SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, r.byte_count);
      if (!a) return E_OUTOFMEMORY;
      void* bits = nullptr;
      if (SUCCEEDED(SafeArrayAccessData(a, &bits))) {
        if (r.byte_count) std::memcpy(bits, details_->data.bytes, r.byte_count);
        SafeArrayUnaccessData(a);
      }
      out->vt = VT_ARRAY | VT_UI1;
      out->parray = a;
      break;
    }
    case 16: out->vt = VT_BOOL; out->boolVal = details_->target64 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case 19: out->vt = VT_I4; out->lVal = static_cast<LONG>(r.hwnd); break;
    case 20: {
      std::wstring cls;
      if (details_->window_class) {
        cls = details_->window_class;
      } else {  // the window alone: its class now, while it is there
        wchar_t buf[257];
        int n = GetClassNameW(reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(r.hwnd))), buf, 257);
        cls.assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
      }
      out->vt = VT_BSTR;
      out->bstrVal = SysAllocStringLen(cls.data(), static_cast<UINT>(cls.size()));
      if (!out->bstrVal) return E_OUTOFMEMORY;
      break;
    }
    default: return DISP_E_MEMBERNOTFOUND;
  }
  return S_OK;
  COM_METHOD_END(kSource, IID_IhkMessageDetails)
}

HRESULT HookwireWindow::get_Caption(BSTR* value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  COM_METHOD_BEGIN
  return ReturnString(WindowText(Window()), value);
  HW_END
}

HRESULT HookwireWindow::get_ClassName(BSTR* value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  COM_METHOD_BEGIN
  wchar_t buf[257];
  HWND h = Window();
  int n = h ? GetClassNameW(h, buf, 257) : 0;
  return ReturnString(std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0), value);
  HW_END
}

HRESULT HookwireWindow::get_hMenu(LONG* value) {
  if (!value) return E_POINTER;
  HWND h = Window();
  // A child window's "menu" is its control id, not a menu.
  HMENU m = h && !(GetWindowLongW(h, GWL_STYLE) & WS_CHILD) ? GetMenu(h) : nullptr;
  *value = static_cast<LONG>(reinterpret_cast<LONG_PTR>(m));
  return S_OK;
}

HRESULT HookwireWindow::get_Children(_HookwireWindows** value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  COM_METHOD_BEGIN
  HWND h = Window();
  com_ptr<WindowList> list(new WindowList(h ? DirectChildren(h) : std::vector<HWND>{}), false);
  *value = list.detach();
  HW_END
}

HRESULT HookwireWindow::get_CannotSubclass(VARIANT_BOOL* value) {
  if (!value) return E_POINTER;
  *value = Subclassable() ? VARIANT_FALSE : VARIANT_TRUE;
  return S_OK;
}

HRESULT HookwireWindow::get_Subclassed(VARIANT_BOOL* value) {
  if (!value) return E_POINTER;
  *value = subclassed_ ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT HookwireWindow::put_Subclassed(VARIANT_BOOL value) {
  COM_METHOD_BEGIN
  if (value) StartSubclass();
  else StopSubclass();
  HW_END
}

HRESULT HookwireWindow::get_WatchMessage(LONG msg, VARIANT_BOOL* value) {
  if (!value) return E_POINTER;
  *value = (msg == kAllMessages ? watch_all_ : (msg >= 0 && Watches(static_cast<UINT>(msg)))) ? VARIANT_TRUE
                                                                                               : VARIANT_FALSE;
  return S_OK;
}

HRESULT HookwireWindow::put_WatchMessage(LONG msg, VARIANT_BOOL value) {
  COM_METHOD_BEGIN
  if (msg < 0 || msg > kAllMessages)
    Raise(common::errInvalidArgument, kSource, L"Message number out of range (0 to &HFFFF)");
  if (msg == kAllMessages) {
    watch_all_ = value != VARIANT_FALSE;
    // Withdrawing AllMessages withdraws every registration at once.
    if (!watch_all_) watched_.reset();
    PublishFilter();
    return S_OK;
  }
  if (value) {
    if (!watched_) watched_ = std::make_unique<std::bitset<0x10000>>();
    watched_->set(static_cast<size_t>(msg));
  } else if (watched_) {
    watched_->reset(static_cast<size_t>(msg));
  }
  PublishFilter();
  HW_END
}

HRESULT HookwireWindow::get_MessageSink(IhkMessageSink** value) {
  if (!value) return E_POINTER;
  *value = sink_;
  if (sink_) sink_->AddRef();
  return S_OK;
}

HRESULT HookwireWindow::putref_MessageSink(IhkMessageSink* value) {
  sink_ = value;
  return S_OK;
}

// --- operations -------------------------------------------------------------------

HRESULT HookwireWindow::CallPrevWndProc(LONG msg, LONG_PTR wParam, LONG_PTR lParam, LONG_PTR* result) {
  if (!result) return E_POINTER;
  *result = 0;
  COM_METHOD_BEGIN
  HWND h = Window();
  if (!subclassed_ || !h) Raise(common::errInvalidArgument, kSource, L"The window is not subclassed");
  if (remote_)
    Raise(common::errInvalidArgument, kSource,
          L"The window belongs to another thread or program: its window procedure cannot be called from here");
  if (!delivery_)
    Raise(common::errInvalidArgument, kSource, L"CallPrevWndProc is only valid while a message is being delivered");
  delivery_->passed_on = true;
  *result = subclass_chain::CallNext(delivery_->at, h, static_cast<UINT>(msg), static_cast<WPARAM>(wParam),
                                     static_cast<LPARAM>(lParam));
  HW_END
}

void HookwireWindow::StartSubclass() {
  if (subclassed_) return;
  HWND h = Window();
  if (!h) Raise(common::errObjectNotSet, kSource, L"No window to subclass");
  if (!Subclassable()) Raise(common::errInvalidArgument, kSource, L"This window cannot be subclassed");
  start_time_ = FileTimeNow();
  ended_ = false;
  end_reason_ = 0;
  // (A family is always read through the hook, also on this thread: its windows write one buffer.)
  if (!OwnThread(h) || scope_ != ring::kScopeWindow) {
    remote_ = std::make_unique<RemoteCapture>(this, h, scope_, scope_options_);
    PublishFilter();
    subclassed_ = true;
    return;
  }
  if (!subclass_chain::Add(h, &layer_))
    Raise(common::errInvalidArgument, kSource, L"Subclassing the window failed");
  subclassed_ = true;
}

void HookwireWindow::StopSubclass() noexcept {
  if (!subclassed_) return;
  subclassed_ = false;
  if (remote_) {
    lost_before_ += remote_->Lost();
    remote_.reset();
    return;
  }
  // The window may already be gone; then there is nothing left to unhook.
  subclass_chain::Remove(hwnd_, &layer_);
}

// --- message handlers ---------------------------------------------------------------

void HookwireWindow::DeliverCaptured(const MessageDetails& details) noexcept {
  const UINT msg = details.record.msg;
  if (!sink_ || !subclassed_ || !Watches(msg)) return;
  com_ptr<HookwireWindow> self(this);
  com_ptr<IhkMessageSink> sink(sink_);
  const MessageDetails* outer = std::exchange(details_, &details);
  LONG_PTR result = 0;
  sink->Message(static_cast<LONG>(msg), static_cast<LONG_PTR>(details.record.wparam),
                static_cast<LONG_PTR>(details.record.lparam), &result);
  details_ = outer;
}

LRESULT HookwireWindow::OnMessage(const ChainPosition& at, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT ret;
  if (!sink_ || !Watches(msg)) {
    ret = subclass_chain::CallNext(at, h, msg, wp, lp);
  } else {
    // Both the sink and this object may let go of each other while the sink runs.
    com_ptr<HookwireWindow> self(this);
    com_ptr<IhkMessageSink> sink(sink_);
    Delivery d{msg, false, delivery_, at};
    delivery_ = &d;
    MessageDetails details;
    ring::Record& r = details.record;
    r.hwnd = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(h));
    r.msg = msg;
    r.origin = InSendMessageEx(nullptr);
    r.flags = ring::kUnicodeWindow;
    r.wparam = static_cast<LONGLONG>(static_cast<LONG_PTR>(wp));
    r.lparam = static_cast<LONGLONG>(lp);
    r.time = FileTimeNow();
    data::AtEntry(&r, &details.data, msg, wp, lp, true);
    details.start_time = start_time_;
    const MessageDetails* outer = std::exchange(details_, &details);
    LONG_PTR result = 0;
    sink->Message(static_cast<LONG>(msg), static_cast<LONG_PTR>(wp), static_cast<LONG_PTR>(lp), &result);
    details_ = outer;
    delivery_ = d.outer;
    // A sink that neither answered nor passed the message on leaves it to the window's own procedure.
    if (!d.passed_on && result == 0) ret = subclass_chain::CallNext(at, h, msg, wp, lp);
    else ret = result;
    if (msg == WM_NCDESTROY) CaptureEnded(1);  // hkEndWindowDestroyed
    return ret;  // sink and self are released here, after the last use of members
  }
  if (msg == WM_NCDESTROY) CaptureEnded(1);
  return ret;
}

// --- which windows a capture takes in ----------------------------------------------

#define SCOPE_END COM_METHOD_END(kSource, IID_IhkCaptureScope)

HRESULT HookwireWindow::Scope::Change(ULONG* field, ULONG value) {
  COM_METHOD_BEGIN
  if (owner_->subclassed_)
    Raise(common::errInvalidArgument, kSource, L"The scope cannot change while the window is watched");
  *field = value;
  SCOPE_END
}

HRESULT HookwireWindow::Scope::get_Scope(LONG* v) {
  if (!v) return E_POINTER;
  *v = static_cast<LONG>(owner_->scope_);
  return S_OK;
}

HRESULT HookwireWindow::Scope::put_Scope(LONG v) {
  if (v < 0 || v > static_cast<LONG>(ring::kScopeProcess)) {
    COM_METHOD_BEGIN
    Raise(common::errInvalidArgument, kSource, L"Scope must be one of hkScopeWindow to hkScopeProcess (0 to 3)");
    SCOPE_END
  }
  return Change(&owner_->scope_, static_cast<ULONG>(v));
}

HRESULT HookwireWindow::Scope::get_IncludeNewWindows(VARIANT_BOOL* v) {
  if (!v) return E_POINTER;
  *v = (owner_->scope_options_ & ring::kTakeNew) ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT HookwireWindow::Scope::put_IncludeNewWindows(VARIANT_BOOL v) {
  return Change(&owner_->scope_options_, v ? owner_->scope_options_ | ring::kTakeNew : owner_->scope_options_ & ~ring::kTakeNew);
}

HRESULT HookwireWindow::Scope::get_IncludeMessageOnly(VARIANT_BOOL* v) {
  if (!v) return E_POINTER;
  *v = (owner_->scope_options_ & ring::kMessageOnly) ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT HookwireWindow::Scope::put_IncludeMessageOnly(VARIANT_BOOL v) {
  return Change(&owner_->scope_options_,
                v ? owner_->scope_options_ | ring::kMessageOnly : owner_->scope_options_ & ~ring::kMessageOnly);
}

// The list is taken when WatchedCount is read; WatchedWindow reads that list (a loop over the windows
// costs one look at the family, not one per window).
HRESULT HookwireWindow::Scope::get_WatchedCount(LONG* v) {
  if (!v) return E_POINTER;
  *v = 0;
  COM_METHOD_BEGIN
  watched_.clear();
  if (owner_->remote_) watched_ = owner_->remote_->Watched();
  else if (owner_->subclassed_) watched_.push_back(owner_->hwnd_);
  *v = static_cast<LONG>(watched_.size());
  SCOPE_END
}

HRESULT HookwireWindow::Scope::get_WatchedWindow(LONG index, LONG* v) {
  if (!v) return E_POINTER;
  *v = 0;
  COM_METHOD_BEGIN
  if (index < 0 || static_cast<size_t>(index) >= watched_.size()) Raise(common::errSubscriptOutOfRange, kSource);
  *v = static_cast<LONG>(reinterpret_cast<LONG_PTR>(watched_[static_cast<size_t>(index)]));
  SCOPE_END
}

}  // namespace hookwire
