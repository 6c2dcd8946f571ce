// WindowTree: prints the desktop window and all its descendants through Hookwire.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "com_ptr.h"
#include "hookwire_h.h"

using common::com_ptr;
using common::unique_bstr;

namespace {

std::string Narrow(BSTR s) {
  if (!s) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(SysStringLen(s)), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(SysStringLen(s)), out.data(), n, nullptr, nullptr);
  return out;
}

int Print(_HookwireWindow* w, int depth) {
  LONG h = 0;
  unique_bstr caption, cls;
  if (FAILED(w->get_hWnd(&h)) || FAILED(w->get_Caption(caption.put())) || FAILED(w->get_ClassName(cls.put())))
    return 0;
  std::printf("%*s%08lX \"%s\" %s\n", depth * 2, "", static_cast<unsigned long>(h), Narrow(caption.get()).c_str(),
              Narrow(cls.get()).c_str());
  int count = 1;
  com_ptr<_HookwireWindows> children;
  LONG n = 0;
  if (FAILED(w->get_Children(children.put())) || FAILED(children->get_Count(&n))) return count;
  for (LONG i = 1; i <= n; ++i) {
    com_ptr<_HookwireWindow> child;
    if (SUCCEEDED(children->get_Item(i, child.put()))) count += Print(child.get(), depth + 1);
  }
  return count;
}

}  // namespace

int main() {
  if (FAILED(CoInitialize(nullptr))) return 2;
  int status = 1;
  {
    com_ptr<_HookwireWindow> desktop;
    HRESULT hr = CoCreateInstance(CLSID_HookwireWindow, nullptr, CLSCTX_INPROC_SERVER, IID__HookwireWindow,
                                  desktop.put_void());
    if (FAILED(hr)) {
      std::fprintf(stderr, "HookwireWindow cannot be created (0x%08lX): is Hookwire.dll registered?\n",
                   static_cast<unsigned long>(hr));
    } else if (SUCCEEDED(desktop->AttachDesktop())) {
      int count = Print(desktop.get(), 0);
      std::printf("%d windows\n", count);
      status = count > 0 ? 0 : 1;
    }
  }
  CoUninitialize();
  return status;
}
