// HookCycle.exe load <dll> <count> <report file>
// HookCycle.exe com <count> <report file>
// HookCycle.exe com-errors <count> <report file>
// Loads and frees a DLL again and again in one process, as the programs a hook is loaded
// into and the clients of an in-process server do, and reports what stayed behind: with
// "load" LoadLibrary/FreeLibrary of the DLL; with "com" a HookwireWindow that watches a
// window of another thread, released, then CoFreeUnusedLibrariesEx; "com-errors" also makes
// one call per cycle that the object refuses (the error is raised and caught inside the DLL,
// as for any client that passes a bad value). Exit code 0 when the
// process is alive at the end, every cycle worked and the next TLS index is unchanged.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>

#include "com_ptr.h"
#include "counting_sink.h"
#include "hookwire_h.h"

namespace {

FILE* g_report = nullptr;

int Fail(int code, const char* what, int cycle) {
  std::fprintf(g_report, "FAIL %s at cycle %d\n", what, cycle);
  return code;
}

DWORD NextTlsIndex() {
  DWORD i = TlsAlloc();
  if (i != TLS_OUT_OF_INDEXES) TlsFree(i);
  return i;
}

int LoadCycles(const wchar_t* path, int count) {
  const wchar_t* name = std::wcsrchr(path, L'\\');
  name = name ? name + 1 : path;
  if (GetModuleHandleW(name)) return Fail(10, "loaded before the first cycle", 0);
  const DWORD tls = NextTlsIndex();
  for (int i = 1; i <= count; ++i) {
    HMODULE h = LoadLibraryW(path);
    if (!h) return Fail(11, "LoadLibrary failed", i);
    // One message through the hook procedure, as in a hooked program: whatever it sets up on
    // first use must go with the DLL too.
    if (auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(h, "HookwireAttachProc")))) {
      CWPSTRUCT c{0, 0, WM_NULL, nullptr};
      proc(HC_ACTION, 0, reinterpret_cast<LPARAM>(&c));
    }
    if (!FreeLibrary(h)) return Fail(12, "FreeLibrary failed", i);
    if (GetModuleHandleW(name)) return Fail(13, "still loaded after FreeLibrary", i);
  }
  const DWORD after = NextTlsIndex();
  std::fprintf(g_report, "cycles %d tls %lu %lu\n", count, static_cast<unsigned long>(tls),
               static_cast<unsigned long>(after));
  return after == tls ? 0 : 14;
}

int ComCycles(int count, bool with_errors) {
  if (FAILED(CoInitialize(nullptr))) return 20;
  // A window of another thread: watched through the hook, received on this thread.
  HWND other = nullptr;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD other_thread = 0;
  std::thread t([&] {
    other = CreateWindowExW(0, L"STATIC", L"cycled", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    other_thread = GetCurrentThreadId();
    SetEvent(ready);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    DestroyWindow(other);
  });
  WaitForSingleObject(ready, 10000);
  if (!other) return 21;
  testing_support::CountingSink sink;
  DWORD tls = 0;
  int rc = 0;
  for (int i = 1; i <= count && rc == 0; ++i) {
    {
      common::com_ptr<_HookwireWindow> w;
      if (FAILED(CoCreateInstance(CLSID_HookwireWindow, nullptr, CLSCTX_INPROC_SERVER, IID__HookwireWindow,
                                  w.put_void())))
        rc = Fail(22, "CoCreateInstance failed", i);
      else if (FAILED(w->put_hWnd(static_cast<LONG>(reinterpret_cast<LONG_PTR>(other)))) ||
               FAILED(w->put_WatchMessage(0xFFFF, VARIANT_TRUE)) || FAILED(w->putref_MessageSink(&sink)) ||
               FAILED(w->put_Subclassed(VARIANT_TRUE)))
        rc = Fail(23, "watching the window failed", i);
      else {
        const LONG before = sink.count;
        SendMessageW(other, WM_USER + 1, static_cast<WPARAM>(i), 0);
        // It arrives on this thread's next drain.
        for (DWORD end = GetTickCount() + 5000; sink.count == before && GetTickCount() < end;) {
          MSG m;
          while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
          MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
        if (sink.count == before) rc = Fail(24, "the watched message did not arrive", i);
        else if (with_errors && SUCCEEDED(w->put_WatchMessage(0x10000, VARIANT_TRUE)))
          rc = Fail(28, "a message number out of range was accepted", i);
        w->put_Subclassed(VARIANT_FALSE);
        w->putref_MessageSink(nullptr);
      }
    }
    CoFreeUnusedLibrariesEx(0, 0);
    if (rc == 0 && GetModuleHandleW(L"Hookwire.dll")) rc = Fail(25, "Hookwire.dll stays loaded", i);
    // The hook DLL stays: it attached to a window of this very process and keeps itself loaded
    // while it may be in the window's chain. Hookwire.dll, the watcher's side, must go.
    if (i == 1) tls = NextTlsIndex();  // what the first load set up for the process is not a leak
  }
  const DWORD after = NextTlsIndex();
  std::fprintf(g_report, "cycles %d tls %lu %lu\n", count, static_cast<unsigned long>(tls),
               static_cast<unsigned long>(after));
  if (rc == 0 && after != tls) rc = Fail(27, "the next TLS index moved", count);
  PostThreadMessageW(other_thread, WM_QUIT, 0, 0);
  t.join();
  CloseHandle(ready);
  CoUninitialize();
  return rc;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  const std::wstring mode = argv[1];
  const wchar_t* report = argv[argc - 1];
  g_report = _wfopen(report, L"w");
  if (!g_report) return 3;
  int rc = 2;
  if (mode == L"load" && argc == 5) rc = LoadCycles(argv[2], _wtoi(argv[3]));
  else if (mode == L"com" && argc == 4) rc = ComCycles(_wtoi(argv[2]), false);
  else if (mode == L"com-errors" && argc == 4) rc = ComCycles(_wtoi(argv[2]), true);
  std::fprintf(g_report, "alive, exit %d\n", rc);
  std::fclose(g_report);
  return rc;
}
