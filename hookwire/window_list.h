// The Children collection: a snapshot of a window's direct children in Z-order.
#pragma once
#include <windows.h>

#include <vector>

#include "com_server.h"
#include "hookwire_h.h"

namespace hookwire {

// The direct children of parent, first to last in Z-order (for the desktop: the top-level windows).
std::vector<HWND> DirectChildren(HWND parent);

class WindowList final : public _HookwireWindows, public ISupportErrorInfo, public common::RefCounted {
 public:
  explicit WindowList(std::vector<HWND> windows);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  COMMON_IUNKNOWN_IMPL
  COMMON_IDISPATCH_IMPL(dispatch_, _HookwireWindows)
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override;
  HRESULT STDMETHODCALLTYPE get_Item(LONG index, _HookwireWindow** window) override;
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) override;

 private:
  common::TypeInfoDispatch dispatch_;
  std::vector<HWND> windows_;
};

}  // namespace hookwire
