// HookSpy.exe <window> <ready event> [hang]: a second spy process. It watches every
// message of the window through Hookwire, sets the event, then pumps messages until
// it is killed; with "hang" it stops pumping instead, like a spy that hangs.
#include <windows.h>
#include <objbase.h>

#include <cwchar>

#include "com_ptr.h"
#include "counting_sink.h"
#include "hookwire_h.h"

using testing_support::CountingSink;

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  LONG target = static_cast<LONG>(std::wcstoul(argv[1], nullptr, 16));
  bool hang = argc > 3 && std::wcscmp(argv[3], L"hang") == 0;
  if (FAILED(CoInitialize(nullptr))) return 3;
  CountingSink sink;
  common::com_ptr<_HookwireWindow> w;
  if (FAILED(CoCreateInstance(CLSID_HookwireWindow, nullptr, CLSCTX_INPROC_SERVER, IID__HookwireWindow, w.put_void())))
    return 4;
  if (FAILED(w->put_hWnd(target)) || FAILED(w->put_WatchMessage(0xFFFF, VARIANT_TRUE)) ||
      FAILED(w->putref_MessageSink(&sink)) || FAILED(w->put_Subclassed(VARIANT_TRUE)))
    return 5;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  if (ready) SetEvent(ready);
  if (hang) {
    Sleep(INFINITE);
  }
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}
