// HookwireHook.dll: loaded by the platform into a watched program. Its hook
// procedures run on the target's own thread, before the target's window
// procedure (sent messages) or as the target retrieves a message (posted ones),
// and hand each watched message synchronously to the spy. Nothing here may harm
// the target: no exceptions, bounded waits, and nothing at all when the table
// cannot be read.
#include <windows.h>

#include "capture_table.h"

using namespace hookwire::capture;

namespace {

Table* g_table = nullptr;
HANDLE g_mapping = nullptr;
volatile LONG g_table_tried = 0;

Table* TableView() {
  if (!g_table && InterlockedCompareExchange(&g_table_tried, 1, 0) == 0) g_table = OpenTable(&g_mapping);
  return g_table;
}

// Set when a watcher's spy was found gone: after the hook has passed the message on,
// the hooks of spies that no longer run are taken off this thread.
thread_local bool t_orphans = false;

void RemoveOrphanHooks() {
  t_orphans = false;
  Table* t = TableView();
  if (!t) return;
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  for (HookEntry& e : t->hooks) {
    if (e.state != kActive || e.target_thread != self || ProcessAlive(static_cast<DWORD>(e.owner_pid))) continue;
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
    if (static_cast<LONG>(now - static_cast<DWORD>(w.stalled_until)) < 0) continue;  // the spy is not answering
    HWND receiver = reinterpret_cast<HWND>(static_cast<LONG_PTR>(w.receiver));
    if (!IsWindow(receiver)) {  // the spy is gone
      InterlockedCompareExchange(&w.state, kFree, kActive);
      t_orphans = true;
      continue;
    }
    Packet p{i, w.generation, kind, static_cast<LONG>(msg), h, 0, static_cast<LONGLONG>(wp), static_cast<LONGLONG>(lp)};
    COPYDATASTRUCT cds{kPacketTag, sizeof p, &p};
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(receiver, WM_COPYDATA, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&cds),
                            SMTO_BLOCK | SMTO_ABORTIFHUNG, kDeliveryTimeoutMs, &answer)) {
      InterlockedIncrement(&w.delivered);
    } else if (IsWindow(receiver)) {
      // Timed out, or the spy is hung: stop waiting on it for a while.
      InterlockedExchange(&w.stalled_until, static_cast<LONG>(GetTickCount() + kStallMs));
    }
  }
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK HookwireCallWndProc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && lp) {
    const CWPSTRUCT* c = reinterpret_cast<const CWPSTRUCT*>(lp);
    Report(c->hwnd, c->message, c->wParam, c->lParam, kSent);
  }
  LRESULT r = CallNextHookEx(nullptr, code, wp, lp);
  if (t_orphans) RemoveOrphanHooks();
  return r;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK HookwireGetMsgProc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && wp == PM_REMOVE && lp) {
    const MSG* m = reinterpret_cast<const MSG*>(lp);
    Report(m->hwnd, m->message, m->wParam, m->lParam, kPosted);
  }
  LRESULT r = CallNextHookEx(nullptr, code, wp, lp);
  if (t_orphans) RemoveOrphanHooks();
  return r;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  if (reason == DLL_PROCESS_DETACH && g_table) {
    UnmapViewOfFile(g_table);
    CloseHandle(g_mapping);
    g_table = nullptr;
  }
  return TRUE;
}
