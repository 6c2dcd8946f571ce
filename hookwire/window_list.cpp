#include "window_list.h"

#include <new>

#include "hookwire_window.h"
#include "runtime_error.h"
#include "same_handle.h"

using common::com_ptr;

namespace hookwire {

namespace {

constexpr const wchar_t* kSource = L"Hookwire.HookwireWindows";

// IEnumVARIANT over a snapshot of handles; each item is a new window object.
class WindowEnum final : public IEnumVARIANT, public common::RefCounted {
 public:
  WindowEnum(std::vector<HWND> windows, size_t pos) : windows_(std::move(windows)), pos_(pos) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumVARIANT) {
      *out = static_cast<IEnumVARIANT*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  COMMON_IUNKNOWN_IMPL

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (!items) return E_POINTER;
    ULONG n = 0;
    try {
      for (; n < count && pos_ < windows_.size(); ++n, ++pos_) {
        com_ptr<HookwireWindow> w = HookwireWindow::ForWindow(windows_[pos_]);
        VariantInit(&items[n]);
        items[n].vt = VT_DISPATCH;
        items[n].pdispVal = static_cast<_HookwireWindow*>(w.detach());
      }
    } catch (...) {
      for (ULONG i = 0; i < n; ++i) VariantClear(&items[i]);
      if (fetched) *fetched = 0;
      return E_OUTOFMEMORY;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    size_t left = windows_.size() - pos_;
    if (count > left) {
      pos_ = windows_.size();
      return S_FALSE;
    }
    pos_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    pos_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) WindowEnum(windows_, pos_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::vector<HWND> windows_;
  size_t pos_;
};

}  // namespace

namespace {

struct Collect {
  HWND parent;
  std::vector<HWND>* out;
};

BOOL CALLBACK CollectDirectChild(HWND h, LPARAM lp) {
  auto* c = reinterpret_cast<Collect*>(lp);
  if (!c->parent || GetAncestor(h, GA_PARENT) == c->parent) c->out->push_back(h);
  return TRUE;
}

}  // namespace

std::vector<HWND> DirectChildren(HWND parent) {
  // The quick walk. A window that closes while we stand on it has no next sibling any more, and
  // the walk would end there, silently short.
  std::vector<HWND> out;
  HWND last = nullptr;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    out.push_back(c);
    last = c;
  }
  // Cut short shows as a walk that did not end at the last sibling (also while the window we
  // stood on is being destroyed: still a window, but no longer in its parent's list).
  if (!last || (IsWindow(last) && GetWindow(out.front(), GW_HWNDLAST) == last)) return out;
  // Then take the platform's own snapshot instead: the top-level windows for the desktop, else
  // every descendant, of which the direct children are kept.
  out.clear();
  Collect collect{common::SameHandle(parent, GetDesktopWindow()) ? nullptr : parent, &out};
  if (!collect.parent) EnumWindows(CollectDirectChild, reinterpret_cast<LPARAM>(&collect));
  else EnumChildWindows(parent, CollectDirectChild, reinterpret_cast<LPARAM>(&collect));
  return out;
}

WindowList::WindowList(std::vector<HWND> windows) : dispatch_(IID__HookwireWindows), windows_(std::move(windows)) {}

HRESULT WindowList::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__HookwireWindows) {
    *out = static_cast<_HookwireWindows*>(this);
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT WindowList::InterfaceSupportsErrorInfo(REFIID iid) { return iid == IID__HookwireWindows ? S_OK : S_FALSE; }

HRESULT WindowList::get_Count(LONG* count) {
  if (!count) return E_POINTER;
  *count = static_cast<LONG>(windows_.size());
  return S_OK;
}

// Items are numbered from 1, as in every automation collection.
HRESULT WindowList::get_Item(LONG index, _HookwireWindow** window) {
  if (!window) return E_POINTER;
  *window = nullptr;
  COM_METHOD_BEGIN
  if (index < 1 || static_cast<size_t>(index) > windows_.size()) common::Raise(common::errSubscriptOutOfRange, kSource);
  *window = HookwireWindow::ForWindow(windows_[static_cast<size_t>(index) - 1]).detach();
  COM_METHOD_END(kSource, IID__HookwireWindows)
}

HRESULT WindowList::get__NewEnum(IUnknown** enumerator) {
  if (!enumerator) return E_POINTER;
  *enumerator = new (std::nothrow) WindowEnum(windows_, 0);
  return *enumerator ? S_OK : E_OUTOFMEMORY;
}

}  // namespace hookwire
