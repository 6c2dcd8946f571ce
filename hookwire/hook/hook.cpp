// HookwireHook.dll: loaded by the platform into a watched program. Its hook
// procedures run on the target's own thread, before the target's window
// procedure (sent messages) or as the target retrieves a message (posted ones),
// and hand each watched message synchronously to the spy. Nothing here may harm
// the target: no exceptions, bounded waits, and nothing at all when the table
// cannot be read.
//
// The DLL is built without the C and C++ runtimes (see CMakeLists.txt): its own entry
// point, no thread-local storage, no static constructors, imports from kernel32 and user32
// only. Loading and unloading it any number of times leaves nothing behind in the target.
#include <windows.h>

#include "capture_table.h"

using namespace hookwire::capture;

// What the compiler may call for copies and clears of structures: there is no C runtime.
extern "C" void* memset(void* dst, int value, size_t n) {
  auto* d = static_cast<volatile unsigned char*>(dst);
  while (n--) *d++ = static_cast<unsigned char>(value);
  return dst;
}

extern "C" void* memcpy(void* dst, const void* src, size_t n) {
  auto* d = static_cast<volatile unsigned char*>(dst);
  auto* s = static_cast<const unsigned char*>(src);
  while (n--) *d++ = *s++;
  return dst;
}

namespace {

Table* g_table = nullptr;
HANDLE g_mapping = nullptr;
volatile LONG g_table_tried = 0;

// Set when a watcher's spy was found gone: after the hook has passed the message on,
// the hooks of spies that no longer run are taken off the calling thread. One flag for
// the process; it stays set while any thread still carries such hooks.
volatile LONG g_orphans = 0;

Table* TableView() {
  if (!g_table && InterlockedCompareExchange(&g_table_tried, 1, 0) == 0) g_table = OpenTable(&g_mapping);
  return g_table;
}

void RemoveOrphanHooks() {
  Table* t = TableView();
  if (!t) return;
  InterlockedExchange(&g_orphans, 0);
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  for (HookEntry& e : t->hooks) {
    if (e.state != kActive || ProcessAlive(static_cast<DWORD>(e.owner_pid))) continue;
    if (e.target_thread != self) {  // another thread's: that thread takes it off at its next message
      InterlockedExchange(&g_orphans, 1);
      continue;
    }
    if (InterlockedCompareExchange(&e.state, kClaimed, kActive) != kActive) continue;
    UnhookWindowsHookEx(reinterpret_cast<HHOOK>(static_cast<LONG_PTR>(e.call_wnd)));
    UnhookWindowsHookEx(reinterpret_cast<HHOOK>(static_cast<LONG_PTR>(e.get_msg)));
    InterlockedExchange(&e.state, kFree);
  }
}

void Report(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, PacketKind kind) {
  Table* t = TableView();
  if (!t) return;
  InterlockedIncrement(&t->hook_calls);
  const LONG h = static_cast<LONG>(reinterpret_cast<LONG_PTR>(hwnd));
  if (!h) return;
  for (int i = 0; i < kMaxWatchers; ++i) {
    Watcher& w = t->watchers[i];
    if (w.state != kActive || w.target != h || !Filtered(w, msg)) continue;
    const DWORD now = GetTickCount();
    if (static_cast<LONG>(now - static_cast<DWORD>(w.stalled_until)) < 0) {  // the spy is not answering
      InterlockedIncrement(&w.lost);
      continue;
    }
    HWND receiver = reinterpret_cast<HWND>(static_cast<LONG_PTR>(w.receiver));
    if (!IsWindow(receiver)) {  // the spy is gone
      InterlockedCompareExchange(&w.state, kFree, kActive);
      InterlockedExchange(&g_orphans, 1);
      continue;
    }
    LONG seq = InterlockedIncrement(&w.sequence);
    if (seq == 0) seq = InterlockedIncrement(&w.sequence);
    InterlockedExchange(&w.pending, seq);
    Packet p{i, w.generation, kind, static_cast<LONG>(msg), h, seq, static_cast<LONGLONG>(wp), static_cast<LONGLONG>(lp)};
    COPYDATASTRUCT cds{kPacketTag, sizeof p, &p};
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(receiver, WM_COPYDATA, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&cds),
                            SMTO_BLOCK | SMTO_ABORTIFHUNG, kDeliveryTimeoutMs, &answer)) {
      InterlockedIncrement(&w.delivered);
    } else if (IsWindow(receiver)) {
      // Timed out, or the spy is hung: stop waiting on it for a while.
      InterlockedExchange(&w.stalled_until, static_cast<LONG>(GetTickCount() + kStallMs));
    }
    // The receiver takes a packet by clearing `pending` before its sink runs. One still pending
    // now was never taken, and a late arrival is refused: that message is lost.
    if (InterlockedCompareExchange(&w.pending, 0, seq) == seq) InterlockedIncrement(&w.lost);
  }
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK HookwireCallWndProc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && lp) {
    const CWPSTRUCT* c = reinterpret_cast<const CWPSTRUCT*>(lp);
    Report(c->hwnd, c->message, c->wParam, c->lParam, kSent);
  }
  LRESULT r = CallNextHookEx(nullptr, code, wp, lp);
  if (g_orphans) RemoveOrphanHooks();
  return r;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK HookwireGetMsgProc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && wp == PM_REMOVE && lp) {
    const MSG* m = reinterpret_cast<const MSG*>(lp);
    Report(m->hwnd, m->message, m->wParam, m->lParam, kPosted);
  }
  LRESULT r = CallNextHookEx(nullptr, code, wp, lp);
  if (g_orphans) RemoveOrphanHooks();
  return r;
}

// The entry point itself (linked with -e): there is no runtime start-up code before it.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  if (reason == DLL_PROCESS_DETACH && g_table) {
    UnmapViewOfFile(g_table);
    CloseHandle(g_mapping);
    g_table = nullptr;
  }
  return TRUE;
}
