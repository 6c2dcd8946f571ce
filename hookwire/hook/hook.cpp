// HookwireHook32.dll / HookwireHook64.dll: the part of Hookwire that runs inside a watched
// program. A watcher sets a hook on the window's thread only to get this DLL there and to
// ask it, with one sent message, to attach: from then on the DLL watches the window from
// inside, as a subclass on the window's own thread, and writes one record per watched
// message into a buffer shared with that watcher alone (capture_ring.h). The hook comes off
// right after; the DLL keeps itself loaded while it may still be in a window's chain.
//
// Nothing here may harm the program: it never waits, never throws, takes nothing from the
// shared buffer but the live indices and the filter (each checked before use), obeys only its
// watcher's own event, and when the last watcher goes it leaves the window as it found it (or,
// when the program subclassed the window after us, stays in the chain as a plain pass-through
// and steps out once it is on top again or the window is destroyed). A program that takes us out
// of its window's chain (it puts back a procedure from below ours) ends every capture of that
// window: the program lets go of all of it on the window's own thread, without waiting for a
// message to the window, and the next watcher subclasses the window again. Each subclassing puts
// in a procedure of ours that serves that window alone and keeps the procedure that was below it,
// so whatever the program does with pointers to our procedures, a call through one goes where it
// went when it was put in, and never comes back round to itself.
//
// A watcher may also ask for a family of windows: a window with its descendants, every window of a
// thread, or of the program. Each thread of the family gets one buffer (one session) shared by the
// family's windows on that thread; each record names its window, and a window's joining and leaving
// are records of their own. Windows made later are taken in, before their first message, by a
// creation hook on the thread (WH_CBT: called when windows are made, activated or focused, not for
// every message), which is held only while such a session lasts.
//
// The DLL is built without the C and C++ runtimes (see CMakeLists.txt): its own entry
// point, no thread-local storage, no static constructors, imports from kernel32 and user32
// only. Loading and unloading it any number of times leaves nothing behind.
#include <windows.h>

#include "capture_ring.h"
#include "message_data.h"

using namespace hookwire;
using namespace hookwire::ring;

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

// Stores the reader may see in order: on x86 a plain store already is one; the fence only keeps
// the compiler from moving the record's fields past it.
inline void Publish(volatile LONG* where, LONG value) { __atomic_store_n(where, value, __ATOMIC_RELEASE); }

constexpr int kSlots = 2048;        // our window procedures: one per window we subclass (see Window)
constexpr int kMaxWindows = 1536;   // windows of one program captured at once
constexpr int kMaxSessions = 8;     // watchers of one window
constexpr int kSessionSlots = 1024;  // sessions in one program, some of them on their way out
constexpr int kMaxBuffers = 128;     // buffers mapped in one program at once (4 MiB each)
constexpr int kHookSlots = 256;     // threads holding the creation hook
constexpr DWORD kCheckMs = 500;
constexpr DWORD kRecheckMs = 3000;  // a procedure above ours found passing messages on is looked at again after this
constexpr LONG kTaking = 0x7F;  // the status while the target attaches (not one the watcher takes)
// The wParam of our registered probe message (lParam: which asking, 0 for the timer's nudge that has
// the window's thread look); such a message is ours and never captured.
constexpr WPARAM kProbeTag = 0x4877C0DE;
constexpr wchar_t kProbeMessage[] = L"HookwireProbe.1";
// A family's record that a window left because it was moved out of the root's descendants.
constexpr LONG kLeftMovedOut = 17;

struct Window;

// One watcher's buffer on one thread, for one window or for the windows of a family on that thread.
// Only that thread writes it; a slot is taken from the pool by `claimed`.
struct Session {
  Header* view;  // null while not capturing
  volatile LONG claimed;
  DWORD thread;   // the thread whose windows write here
  ULONG scope;    // Scope
  ULONG options;  // Options
  HWND root;      // the family's root (the watched window for a window of its own)
  volatile HWND nudge;  // a window of the family on `thread`: the waits send it WM_NULL
  HWND own;             // a family's message-only window of ours on `thread` (the nudge while it lasts)
  bool hooked;    // holds the thread's creation hook
  HANDLE section;
  HANDLE wake;
  HANDLE detach;
  HANDLE watcher;
  HANDLE detach_wait;   // the thread pool's waits: the watcher's event, the watcher's process
  HANDLE watcher_wait;
  Key key;
  ULONG capacity;
  ULONG mark;
  LONG write_index;
  LONG read_index;  // where the watcher stood when last looked at: read again only when that looks full
  LONG lost;
  LONG generation;  // changes whenever the slot is given up
  volatile LONG leave;  // EndReason: set by the waits, acted on at the window's next message
  volatile LONG closing;      // set once by whoever lets go of the session
  volatile LONG end_queued;   // the waits asked the pool to let go of it (its thread ended)
  DWORD hint_checked;   // when the watcher's hint was last followed
};

// One of our window procedures and the window it serves. Each window we subclass gets a procedure of
// its own (g_procs), which knows its window's entry and the procedure that was below it: a pointer
// to it that the program keeps, or puts back into the chain, always goes on to that procedure, and a
// window subclassed again puts another of ours in, so no two of our procedures can ever call each
// other in a circle. Once the window is let go of while it may still call that procedure (a cut-out,
// or we stepped out), the entry is retired: it only passes calls on, and it serves another window
// only after its own window is gone (or, a stepped-out one, when there is no other room).
enum SlotState : LONG { kFree = 0, kClaiming = 1, kActive = 2, kRetired = 3 };

struct Window {
  volatile LONG state;
  volatile HWND hwnd;
  DWORD thread;  // the window's thread: the only one that changes an active entry but for the timer below
  WNDPROC prev;
  bool unicode;
  bool subclassed;   // our procedure was put into the window (and not taken out by us)
  bool stepped_out;  // retired because we took our procedure out ourselves
  bool gone;         // WM_NCDESTROY came: the entry goes when our last frame for it returns
  bool direct;       // `prev` may be called without the platform (see Next)
  bool leaving;      // being retired now: the sessions it gives up leave it alone
  bool in_children;  // linked to a family of a window with its children: its parent is watched
  HWND parent;       // its parent when it joined such a family (or when it was last looked at)
  volatile LONG depth;      // our procedure's capturing frames for this window on its thread's stack
  volatile LONG releasing;  // the timer lets go of a window that went without our seeing it go
  volatile LONG sessions;  // sessions linked in `session`
  HANDLE timer;  // while active: looks whether the window went, or whether we were cut out
  volatile LONG asking;   // the probe being asked for this entry,
  volatile LONG reached;  // and the last one that came through our procedure
  volatile LONG_PTR verified;   // a procedure above ours that a look found passing messages on to us,
  volatile DWORD verified_at;   // and when
  HHOOK volatile look_hook;     // set by the timer: looks on the window's thread whether we were cut out
  volatile LONG look_asked;     // when the timer last asked the window's thread to look (0: not waiting)
  Session* volatile session[kMaxSessions];  // the watchers' sessions this window writes to
};

Window g_windows[kSlots];
Session g_sessions[kSessionSlots];

// The creation hook of a thread, held by the family sessions on that thread that take in new windows.
struct CreationHook {
  volatile LONG thread;
  HHOOK hook;
  LONG users;  // changed only on the thread itself
};
CreationHook g_creation[kHookSlots];
volatile LONG g_pinned = 0;
volatile LONG g_asking = 0;
ATOM g_own_class = 0;
UINT g_attach_message = 0;
UINT g_probe_message = 0;
HMODULE g_self = nullptr;

LRESULT Dispatch(Window& w, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

template <int I>
LRESULT CALLBACK SlotProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return Dispatch(g_windows[I], hwnd, msg, wp, lp);
}

template <int... I>
struct Seq {};
template <int N>
using MakeSeq = Seq<__integer_pack(N)...>;  // 0 .. N-1 (the compiler's own, as the library's sequences use)
template <typename S>
struct ProcTable;
template <int... I>
struct ProcTable<Seq<I...>> {
  static constexpr WNDPROC procs[sizeof...(I)] = {&SlotProc<I>...};
};
using Procs = ProcTable<MakeSeq<kSlots>>;

LONG_PTR ProcOf(const Window& w) { return reinterpret_cast<LONG_PTR>(Procs::procs[&w - g_windows]); }

ULONG Low32(HWND h) { return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(h)); }

UINT ProbeMessage() {
  if (!g_probe_message) g_probe_message = RegisterWindowMessageW(kProbeMessage);
  return g_probe_message;
}

// The entry capturing `h`, if any (a window has at most one active entry).
Window* Find(HWND h) {
  for (Window& w : g_windows)
    if (w.state == kActive && Low32(w.hwnd) == Low32(h) && !w.gone) return &w;
  return nullptr;
}

int ActiveCount() {
  int n = 0;
  for (const Window& w : g_windows) n += w.state == kActive;
  return n;
}

bool Take(Window& w, LONG from, HWND h) {
  if (InterlockedCompareExchange(&w.state, kClaiming, from) != from) return false;
  w.prev = nullptr;
  w.subclassed = w.stepped_out = w.gone = false;
  w.depth = 0;
  w.releasing = 0;
  w.sessions = 0;
  w.timer = nullptr;
  w.asking = 0;
  w.reached = 0;
  w.verified = 0;
  w.verified_at = 0;
  w.look_hook = nullptr;
  w.look_asked = 0;
  w.leaving = false;
  w.in_children = false;
  w.parent = nullptr;
  w.thread = GetCurrentThreadId();
  for (Session* volatile& s : w.session) s = nullptr;
  w.hwnd = h;
  InterlockedExchange(&w.state, kActive);
  return true;
}

// A free entry; else one retired whose window is gone (nothing can call its procedure for a window
// any more); else one we stepped out of (only a pointer the program kept could still call it).
Window* Claim(HWND h) {
  for (Window& w : g_windows)
    if (w.state == kFree && Take(w, kFree, h)) return &w;
  for (Window& w : g_windows)
    if (w.state == kRetired && !w.depth && !IsWindow(w.hwnd) && Take(w, kRetired, h)) return &w;
  for (Window& w : g_windows)
    if (w.state == kRetired && w.stepped_out && Take(w, kRetired, h)) return &w;
  return nullptr;
}

// --- which sessions a window writes to ------------------------------------------------------

bool Linked(const Window& w, const Session* s) {
  for (const Session* t : w.session)
    if (t == s) return true;
  return false;
}

bool Link(Window& w, Session* s) {
  for (Session* volatile& t : w.session)
    if (!t) {
      t = s;
      InterlockedIncrement(&w.sessions);
      return true;
    }
  return false;
}

// (Also from a timer for a window that went: the exchange keeps the count right should the window's
// thread let go of the same session at that moment.)
void Unlink(Window& w, Session* s) {
  for (Session* volatile& t : w.session)
    if (InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&t), nullptr, s) == s) {
      InterlockedDecrement(&w.sessions);
      if (s->nudge == w.hwnd) {  // the waits need another window of the family to wake
        s->nudge = nullptr;
        for (Window& o : g_windows)
          if (&o != &w && o.state == kActive && !o.gone && Linked(o, s)) {
            s->nudge = o.hwnd;
            break;
          }
        if (!s->nudge) s->nudge = s->own;
      }
    }
}

LONG_PTR CurrentProc(const Window& w) {
  return w.unicode ? GetWindowLongPtrW(w.hwnd, GWLP_WNDPROC) : GetWindowLongPtrA(w.hwnd, GWLP_WNDPROC);
}

// True when `p` points into code mapped in this program.
bool Code(LONG_PTR p) {
  MEMORY_BASIC_INFORMATION mbi{};
  if (!VirtualQuery(reinterpret_cast<const void*>(p), &mbi, sizeof mbi) || mbi.State != MEM_COMMIT) return false;
  return (mbi.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

LRESULT Forward(WNDPROC prev, bool unicode, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return unicode ? CallWindowProcW(prev, hwnd, msg, wp, lp) : CallWindowProcA(prev, hwnd, msg, wp, lp);
}

// On to the procedure below ours for a message of the window's own dispatch. A 64-bit program's
// procedure that is code (not a handle the platform stands in for one of the other character set)
// is called as is: the platform's CallWindowProc would only find that out again, at the cost of
// two thirds of a bare message. A 32-bit one always goes through the platform, which also keeps
// the registers of a procedure that does not keep them itself.
inline LRESULT Next(const Window& w, WNDPROC prev, bool unicode, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
#if defined(_WIN64)
  if (w.direct) return prev(hwnd, msg, wp, lp);
#else
  (void)w;
#endif
  return Forward(prev, unicode, hwnd, msg, wp, lp);
}

void SetStatus(Session& s, State state, LONG reason) {
  const LONG status = Status(state, reason);
  InterlockedExchange(&s.view->status, status);
  InterlockedExchange(&s.view->status_tag, StatusTag(s.key, status));
}

// The handles a session holds can only be closed by the session itself: a neighbour that can
// duplicate them out of the program cannot close them, so a value is never closed twice nor after
// it came to name something else of the program's.
void Protect(HANDLE h) { SetHandleInformation(h, HANDLE_FLAG_PROTECT_FROM_CLOSE, HANDLE_FLAG_PROTECT_FROM_CLOSE); }

void Release(HANDLE& h) {
  if (!h) return;
  SetHandleInformation(h, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0);
  CloseHandle(h);
  h = nullptr;
}

void DropCreationHook(DWORD thread) {
  for (CreationHook& c : g_creation)
    if (static_cast<DWORD>(c.thread) == thread && c.hook) {
      if (--c.users > 0) return;
      UnhookWindowsHookEx(c.hook);
      c.hook = nullptr;
      InterlockedExchange(&c.thread, 0);
      return;
    }
}

void AfterLastSession(Window& w);
bool OwnWindow(HWND h);
void MakeOwnWindow(Session& s);

void CloseSession(Session& s, LONG reason) {
  if (InterlockedExchange(&s.closing, 1) != 0) return;  // (let go of already, or being let go of)
  // The waits go first (this returns once no callback of theirs runs): nothing touches the
  // session from another thread afterwards.
  if (s.detach_wait) UnregisterWaitEx(s.detach_wait, INVALID_HANDLE_VALUE);
  if (s.watcher_wait) UnregisterWaitEx(s.watcher_wait, INVALID_HANDLE_VALUE);
  s.detach_wait = s.watcher_wait = nullptr;
  SetStatus(s, kEnded, reason);
  if (s.wake) SetEvent(s.wake);  // the watcher learns at once
  UnmapViewOfFile(s.view);
  Release(s.section);
  Release(s.wake);
  Release(s.detach);
  Release(s.watcher);
  if (s.hooked) DropCreationHook(s.thread);
  s.hooked = false;
  s.view = nullptr;
  ++s.generation;
  // Every window of the family lets go of it; one left with no watcher, and with no frame of ours
  // for it on the stack, leaves the chain now (a frame of ours sees to it on its way out).
  const DWORD self = GetCurrentThreadId();
  for (Window& w : g_windows) {
    if (w.state != kActive || !Linked(w, &s)) continue;
    Unlink(w, &s);
    if (!w.sessions && !w.depth && !w.leaving && w.thread == self) AfterLastSession(w);
  }
  s.nudge = nullptr;
  if (HWND own = s.own) {
    s.own = nullptr;
    SetWindowLongPtrW(own, GWLP_USERDATA, 0);
    // Only its thread can destroy it; from elsewhere it is asked to (a thread that ended took it along).
    if (GetWindowThreadProcessId(own, nullptr) == self) DestroyWindow(own);
    else PostMessageW(own, WM_CLOSE, 0, 0);
  }
  InterlockedExchange(&s.claimed, 0);
}

void Unhook(Window& w) {
  if (HHOOK hook = static_cast<HHOOK>(InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&w.look_hook), nullptr)))
    UnhookWindowsHookEx(hook);
}

// Off the window's thread only from the timer itself (which may not wait for its own callback).
void StopTimer(Window& w, bool from_timer = false) {
  if (!w.timer) return;
  DeleteTimerQueueTimer(nullptr, w.timer, from_timer ? nullptr : INVALID_HANDLE_VALUE);
  w.timer = nullptr;
}

bool Write(Session& s, Record& r, Data** data, ULONG window, UINT msg, WPARAM wp, LPARAM lp, ULONG origin,
           LONGLONG time, bool unicode, USHORT flags = 0);
void Mark(Session& s, HWND hwnd, USHORT flag, LONG reason);

// Whether the session is over when this window goes: it watches this window alone, or the window is
// the root of the family.
bool EndsWith(const Session& s, const Window& w) {
  return s.scope == kScopeWindow || (s.scope == kScopeChildren && Low32(s.root) == Low32(w.hwnd));
}

// Lets go of the window while our procedure may still be in its chain: every session of the window
// alone ends (each watcher is told why), a family's goes on without it, and the entry only passes
// calls on from now on.
void Retire(Window& w, LONG reason, bool from_timer = false) {
  w.leaving = true;
  StopTimer(w, from_timer);
  for (Session* volatile& slot : w.session) {
    Session* s = slot;
    if (!s) continue;
    if (!s->view) {
      Unlink(w, s);
    } else if (EndsWith(*s, w)) {
      CloseSession(*s, s->leave ? s->leave : reason);
    } else {
      // Only the session's own thread writes its buffer (the timer does not).
      if (!from_timer && s->thread == GetCurrentThreadId()) Mark(*s, w.hwnd, kWindowLeft, reason);
      Unlink(w, s);
    }
  }
  Unhook(w);
  w.leaving = false;
  InterlockedExchange(&w.state, kRetired);
}

// Takes our procedure out of the window when nobody put another one above it since; true
// when the window is as it was before us.
bool StepOut(Window& w) {
  if (!w.subclassed) return true;
  if (CurrentProc(w) != ProcOf(w)) return false;
  LONG_PTR prev = reinterpret_cast<LONG_PTR>(w.prev);
  if (w.unicode) SetWindowLongPtrW(w.hwnd, GWLP_WNDPROC, prev);
  else SetWindowLongPtrA(w.hwnd, GWLP_WNDPROC, prev);
  w.subclassed = false;
  return true;
}

// After the last session: out of the chain if we can, else a pass-through until we can (or until
// the window goes).
void AfterLastSession(Window& w) {
  if (w.sessions == 0 && StepOut(w)) {
    w.stepped_out = true;
    Retire(w, kEndWatcherLeft);
  }
}

// --- the waits: the watcher's own event and its process, seen without a message --------------

bool ThreadEnded(DWORD id);

// A session whose thread ended: nothing of that thread can let go of it any more, so a worker of the
// pool does (the session's generation, in the context's low bits, tells a slot taken again since).
DWORD WINAPI CloseForEndedThread(void* context) {
  const auto value = reinterpret_cast<ULONG_PTR>(context);
  Session& s = g_sessions[value >> 16];
  if ((static_cast<ULONG_PTR>(s.generation) & 0xFFFF) == (value & 0xFFFF) && s.view)
    CloseSession(s, s.leave ? s.leave : kEndWatcherLeft);
  return 0;
}

// Runs on a thread of the platform's pool: only marks the session and asks the window's thread
// to look (a notification costs the program nothing but a WM_NULL); a session whose thread ended
// is let go of by a worker of the pool (never here: letting go waits for these callbacks).
void WatcherLeft(Session* s) {
  InterlockedCompareExchange(&s->leave, kEndWatcherLeft, 0);
  if (ThreadEnded(s->thread)) {
    if (InterlockedExchange(&s->end_queued, 1) == 0) {
      const auto context = static_cast<ULONG_PTR>(s - g_sessions) << 16 | (static_cast<ULONG_PTR>(s->generation) & 0xFFFF);
      if (!QueueUserWorkItem(CloseForEndedThread, reinterpret_cast<void*>(context), WT_EXECUTEDEFAULT))
        InterlockedExchange(&s->end_queued, 0);
    }
    return;
  }
  if (HWND h = s->nudge) SendNotifyMessageW(h, WM_NULL, 0, 0);
}

void CALLBACK DetachSignaled(void* context, BOOLEAN) { WatcherLeft(static_cast<Session*>(context)); }

void CALLBACK WatcherGone(void* context, BOOLEAN) { WatcherLeft(static_cast<Session*>(context)); }

// On the window's thread: true when a message handed to the window's present procedure no longer
// comes through ours (the program took us out of its chain, as by putting back a procedure from
// before us). The message is our own registered one: a procedure above ours that passes on what it
// does not know passes it on, and our procedure does not hand it further down.
bool CutOut(Window& w) {
  if (!w.subclassed) return false;
  const LONG_PTR now = CurrentProc(w);
  if (!now || now == ProcOf(w)) return false;
  LONG asking = InterlockedIncrement(&g_asking);
  if (!asking) asking = InterlockedIncrement(&g_asking);
  w.asking = asking;
  Forward(reinterpret_cast<WNDPROC>(now), w.unicode, w.hwnd, ProbeMessage(), kProbeTag, asking);
  if (w.reached != asking) return true;
  w.verified = now;
  w.verified_at = GetTickCount();
  return false;
}

// The look itself, on the window's thread (a hook the timer set there sees the timer's nudge first).
void Look(HWND hwnd) {
  Window* w = Find(hwnd);
  if (!w || w->thread != GetCurrentThreadId()) return;
  w->look_asked = 0;
  if (CutOut(*w)) Retire(*w, kEndCutOut);  // takes the hook off too
  else Unhook(*w);
}

LRESULT CALLBACK LookHook(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && lp) {
    const CWPSTRUCT* c = reinterpret_cast<const CWPSTRUCT*>(lp);
    if (c->message && c->message == ProbeMessage() && c->wParam == kProbeTag && !c->lParam && c->hwnd) Look(c->hwnd);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// The window went without our seeing it go (we were out of its chain): let go of it from here, once
// no frame of ours for it is on its thread's stack. The window's thread checks `releasing` after it
// counts its frame in, this thread checks `depth` after it set `releasing`: one of the two sees the other.
// A thread that ended inside the window's procedure (it called ExitThread there) left frames of ours
// that will never return: it counts as off our procedure.
bool ThreadEnded(DWORD id) {
  HANDLE t = OpenThread(SYNCHRONIZE, FALSE, id);
  if (!t) return true;
  const bool ended = WaitForSingleObject(t, 0) == WAIT_OBJECT_0;
  CloseHandle(t);
  return ended;
}

void ReleaseGone(Window& w) {
  if (InterlockedCompareExchange(&w.releasing, 1, 0) != 0) return;
  if (InterlockedCompareExchange(&w.depth, 0, 0) != 0) {
    if (!ThreadEnded(w.thread)) {
      InterlockedExchange(&w.releasing, 0);
      return;
    }
    InterlockedExchange(&w.depth, 0);
  }
  w.gone = true;
  Retire(w, kEndWindowDestroyed, true);  // `releasing` stays set: the entry is not ours to capture with any more
}

// Every kCheckMs while the entry is active: a window gone without our seeing it is let go of; when
// the window's procedure is another than ours, and not one a look found passing messages on to us
// lately, the window's thread is asked to look whether a message still reaches us (only there can
// one be handed to the procedure).
void CALLBACK Check(void* context, BOOLEAN) {
  Window& w = *static_cast<Window*>(context);
  if (w.state != kActive || w.releasing) return;
  if (!IsWindow(w.hwnd)) {
    ReleaseGone(w);
    return;
  }
  if (!w.subclassed) return;
  const LONG_PTR now = CurrentProc(w);
  if (now == ProcOf(w)) {
    w.verified = 0;  // a procedure put above us later is looked at again
    return;
  }
  if (!now || (now == w.verified && GetTickCount() - w.verified_at < kRecheckMs)) return;
  if (!w.look_hook && g_self) {
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, LookHook, g_self, w.thread);
    if (hook && InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&w.look_hook), hook, nullptr))
      UnhookWindowsHookEx(hook);
  }
  // One asking at a time (a thread that does not answer for a while gets no queue of them).
  const LONG tick = static_cast<LONG>(GetTickCount() | 1);
  const LONG asked = w.look_asked;
  if (asked && static_cast<DWORD>(tick - asked) < 2000) return;
  if (InterlockedCompareExchange(&w.look_asked, tick, asked) == asked)
    SendNotifyMessageW(w.hwnd, ProbeMessage(), kProbeTag, 0);
}

// --- attach ------------------------------------------------------------------------------

HANDLE FromWatcher(HANDLE watcher, ULONG value, DWORD access, DWORD options = 0) {
  HANDLE mine = nullptr;
  if (!value || !DuplicateHandle(watcher, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value)), GetCurrentProcess(),
                                 &mine, access, FALSE, options))
    return nullptr;
  return mine;
}

void CloseIf(HANDLE h) {
  if (h) CloseHandle(h);
}

// Copies the request from the watcher's pipe into our own memory, never waiting: a peek takes
// what is already there and returns at once whatever the pipe holds (a read could wait for ever).
bool ReadRequest(HANDLE watcher, ULONG pipe_value, Request* q) {
  HANDLE pipe = FromWatcher(watcher, pipe_value, 0, DUPLICATE_SAME_ACCESS);
  if (!pipe) return false;
  DWORD got = 0, available = 0;
  const bool ok = PeekNamedPipe(pipe, q, sizeof *q, &got, &available, nullptr) && got == sizeof *q;
  CloseHandle(pipe);
  return ok;
}

bool ValidRequest(const Request& q, HWND hwnd) {
  const ULONG cap = q.capacity;
  return q.magic == kRequestMagic && q.version == kVersion && cap >= kMinCapacity && cap <= kMaxCapacity &&
         (cap & (cap - 1)) == 0 && q.mark >= 1 && q.mark <= cap && q.target == Low32(hwnd) &&
         q.scope <= kScopeProcess && (q.options & ~static_cast<ULONG>(kTakeNew | kMessageOnly)) == 0 &&
         q.target_thread == GetCurrentThreadId() && GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId();
}

void Refuse(Header* h, const Key& key, Refusal why) {
  const LONG status = Status(kRefused, why);
  InterlockedExchange(&h->status, status);
  InterlockedExchange(&h->status_tag, StatusTag(key, status));
}

Session* ClaimSession() {
  int mapped = 0;
  for (const Session& s : g_sessions) mapped += s.claimed != 0;
  if (mapped >= kMaxBuffers) return nullptr;
  for (Session& s : g_sessions)
    if (!s.claimed && InterlockedCompareExchange(&s.claimed, 1, 0) == 0) return &s;
  return nullptr;
}

// Puts our procedure for entry `w` into the window.
bool Subclass(Window& w, HWND hwnd) {
  w.unicode = IsWindowUnicode(hwnd) != FALSE;
  SetLastError(0);
  LONG_PTR prev = w.unicode ? SetWindowLongPtrW(hwnd, GWLP_WNDPROC, ProcOf(w)) : SetWindowLongPtrA(hwnd, GWLP_WNDPROC, ProcOf(w));
  if (!prev) return false;
  w.prev = reinterpret_cast<WNDPROC>(prev);
  w.direct = sizeof(void*) == 8 && Code(prev);
  w.subclassed = true;
  // Our procedure is in a window's chain now: this DLL must outlive any FreeLibrary.
  if (InterlockedExchange(&g_pinned, 1) == 0) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&Subclass), &self);
  }
  return true;
}

// Window `hwnd` (of this thread) writes to session `s` from now on: its entry is found or made, and a
// family's buffer is told that the window joined. kNoRefusal when it does.
Refusal Join(Session& s, HWND hwnd) {
  Window* w = Find(hwnd);
  // An entry whose window cut us out (not yet noticed) is let go of first: the new watcher puts
  // another of our procedures in.
  if (w && CutOut(*w)) {
    Retire(*w, kEndCutOut);
    w = nullptr;
  }
  if (w && Linked(*w, &s)) return kNoRefusal;
  if (!w) {
    if (ActiveCount() >= kMaxWindows) return kTooManyWindows;
    w = Claim(hwnd);
    if (!w) return kTooManyWindows;
    if (!Subclass(*w, hwnd)) {
      InterlockedExchange(&w->state, kFree);
      return kNoSubclass;
    }
  }
  if (!Link(*w, &s)) return kTooMany;
  if (s.scope == kScopeChildren) {
    w->in_children = true;
    w->parent = GetAncestor(hwnd, GA_PARENT);
  }
  if (!s.nudge) s.nudge = hwnd;
  // The look is short and never waits for the window's thread: it runs in the timer's own thread, so a
  // family of hundreds of windows does not call up worker threads (and their stacks) in the program.
  if (!w->timer) CreateTimerQueueTimer(&w->timer, nullptr, Check, w, kCheckMs, kCheckMs, WT_EXECUTEINTIMERTHREAD);
  if (s.scope != kScopeWindow) Mark(s, hwnd, kWindowJoined, 0);
  return kNoRefusal;
}

// A message-only window: not a child, and its parent is not the desktop.
bool MessageOnly(HWND h) {
  if (GetWindowLongW(h, GWL_STYLE) & WS_CHILD) return false;
  HWND parent = GetAncestor(h, GA_PARENT);
  return parent && Low32(parent) != Low32(GetDesktopWindow());
}

// A message-only window or a descendant of one.
bool UnderMessageOnly(HWND h) {
  HWND top = h;
  for (int depth = 0; depth < 256 && (GetWindowLongW(top, GWL_STYLE) & WS_CHILD); ++depth) {
    HWND parent = GetAncestor(top, GA_PARENT);
    if (!parent) break;
    top = parent;
  }
  return MessageOnly(top);
}

// Whether window `h`, of the session's thread, is of its family (never a window of ours).
bool Belongs(const Session& s, HWND h) {
  if (!h || GetWindowThreadProcessId(h, nullptr) != s.thread || OwnWindow(h)) return false;
  if (Low32(h) == Low32(s.root)) return true;
  switch (s.scope) {
    case kScopeChildren: return IsChild(s.root, h) != FALSE;
    case kScopeThread:
    case kScopeProcess: return (s.options & kMessageOnly) || !UnderMessageOnly(h);
    default: return false;
  }
}

BOOL CALLBACK JoinIfFamily(HWND h, LPARAM lp) {
  Session& s = *reinterpret_cast<Session*>(lp);
  if (Belongs(s, h)) Join(s, h);
  if (s.scope != kScopeChildren) EnumChildWindows(h, JoinIfFamily, lp);  // (children: the root's walk has them all)
  return TRUE;
}

// The windows of the family already there, on this thread.
void JoinFamily(Session& s) {
  if (s.scope == kScopeChildren) {
    EnumChildWindows(s.root, JoinIfFamily, reinterpret_cast<LPARAM>(&s));
    return;
  }
  // Every top-level window and its descendants (a thread's child windows may sit in another thread's
  // top-level window), and the message-only ones when asked for.
  EnumWindows(JoinIfFamily, reinterpret_cast<LPARAM>(&s));
  if (s.options & kMessageOnly)
    for (HWND h = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); h;
         h = FindWindowExW(HWND_MESSAGE, h, nullptr, nullptr))
      JoinIfFamily(h, reinterpret_cast<LPARAM>(&s));
}

// The creation hook: a window of a family's thread is taken in when it is made, before its first
// message (its procedure is the class's now; ours goes on top of it).
LRESULT CALLBACK Creation(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_CREATEWND && wp) {
    HWND h = reinterpret_cast<HWND>(wp);
    const DWORD self = GetCurrentThreadId();
    for (Session& s : g_sessions)
      if (s.view && s.thread == self && s.scope != kScopeWindow && (s.options & kTakeNew) && Belongs(s, h)) Join(s, h);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

bool HoldCreationHook(DWORD thread) {
  for (CreationHook& c : g_creation)
    if (static_cast<DWORD>(c.thread) == thread && c.hook) {
      ++c.users;
      return true;
    }
  if (!g_self) return false;
  for (CreationHook& c : g_creation)
    if (!c.thread && InterlockedCompareExchange(&c.thread, static_cast<LONG>(thread), 0) == 0) {
      c.hook = SetWindowsHookExW(WH_CBT, Creation, g_self, thread);
      if (!c.hook) {
        InterlockedExchange(&c.thread, 0);
        return false;
      }
      c.users = 1;
      return true;
    }
  return false;
}

void Attach(HWND hwnd, DWORD watcher_pid, ULONG pipe_value) {
  if (!watcher_pid || !pipe_value) return;
  HANDLE watcher_dup = OpenProcess(PROCESS_DUP_HANDLE, FALSE, watcher_pid);
  if (!watcher_dup) return;
  Request q{};
  const bool have_request = ReadRequest(watcher_dup, pipe_value, &q);
  const bool sized = have_request && q.capacity >= kMinCapacity && q.capacity <= kMaxCapacity;
  HANDLE section = sized ? FromWatcher(watcher_dup, q.section, FILE_MAP_READ | FILE_MAP_WRITE) : nullptr;
  // The view is what the request's capacity needs, no more: the platform refuses a view larger than
  // the section. A view of the header alone is enough to say no.
  void* view = section ? MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                       static_cast<SIZE_T>(SectionBytes(q.capacity)))
                       : nullptr;
  bool whole = view != nullptr;
  if (!view && section) view = MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kHeaderSize);
  MEMORY_BASIC_INFORMATION mbi{};
  // The header must be one of ours (else the handle named some other section of the watcher's:
  // not ours to touch).
  if (!view || !VirtualQuery(view, &mbi, sizeof mbi) || static_cast<Header*>(view)->magic != kMagic ||
      static_cast<Header*>(view)->version != kVersion) {
    if (view) UnmapViewOfFile(view);
    CloseIf(section);
    CloseHandle(watcher_dup);
    return;
  }
  Header* h = static_cast<Header*>(view);
  const Key key{q.key[0], q.key[1]};
  // One target takes a buffer, once: a request sent again finds it taken.
  if (InterlockedCompareExchange(&h->status, kTaking, kNew) != kNew) {
    UnmapViewOfFile(view);
    CloseHandle(section);
    CloseHandle(watcher_dup);
    return;
  }
  HANDLE wake = nullptr, detach = nullptr, watcher = nullptr;
  auto give_up = [&](Refusal why) {
    Refuse(h, key, why);
    UnmapViewOfFile(view);
    CloseHandle(section);
    CloseIf(wake);
    CloseIf(detach);
    CloseIf(watcher);
  };
  if (OwnWindow(hwnd)) {  // a family's window of ours is nobody's to watch
    CloseHandle(watcher_dup);
    give_up(kNoSubclass);
    return;
  }
  if (!ValidRequest(q, hwnd)) {
    CloseHandle(watcher_dup);
    give_up(q.magic == kRequestMagic && q.target != Low32(hwnd) ? kWrongWindow : kBadSection);
    return;
  }
  // The section must hold the header, the records and their data blocks.
  if (!whole || mbi.RegionSize < SectionBytes(q.capacity)) {
    CloseHandle(watcher_dup);
    give_up(kBadSection);
    return;
  }
  wake = FromWatcher(watcher_dup, q.wake_event, EVENT_MODIFY_STATE);
  detach = FromWatcher(watcher_dup, q.detach_event, SYNCHRONIZE);
  CloseHandle(watcher_dup);  // the right to take the watcher's handles is not kept
  watcher = OpenProcess(SYNCHRONIZE, FALSE, watcher_pid);
  if (!wake || !detach || !watcher) {
    give_up(kBadSection);
    return;
  }
  // The family's root: the watched window itself but for a window with its children seen from
  // another thread, where this window must be one of the root's descendants.
  const HWND root = q.scope == kScopeChildren
                        ? reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(q.root)))
                        : hwnd;
  if (q.scope == kScopeChildren && Low32(root) != Low32(hwnd) && !IsChild(root, hwnd)) {
    give_up(kWrongWindow);
    return;
  }
  Session* s = ClaimSession();
  if (!s) {
    give_up(kTooManyWindows);
    return;
  }
  s->thread = GetCurrentThreadId();
  s->scope = q.scope;
  s->options = q.scope == kScopeWindow ? 0 : q.options;
  s->root = root;
  s->nudge = nullptr;
  s->own = nullptr;
  s->hooked = false;
  s->section = section;
  s->wake = wake;
  s->detach = detach;
  s->watcher = watcher;
  s->key = key;
  s->capacity = q.capacity;
  s->mark = q.mark;
  s->write_index = 0;
  s->read_index = 0;
  s->lost = 0;
  s->leave = 0;
  s->closing = 0;
  s->end_queued = 0;
  s->hint_checked = GetTickCount() - 1;
  s->detach_wait = s->watcher_wait = nullptr;
  h->write_index = 0;
  h->lost = 0;
  h->lost_tag = LostTag(key, 0);
  h->target_64bit = sizeof(void*) == 8;
  h->attached_time = FileTimeNow();
  s->view = h;
  // The watched window first: a refusal there is the watcher's answer; then the rest of the family
  // on this thread (a window that finds no room is left out, the family goes on).
  const Refusal first = Join(*s, hwnd);
  if (first != kNoRefusal) {
    s->view = nullptr;
    s->section = s->wake = s->detach = s->watcher = nullptr;
    InterlockedExchange(&s->claimed, 0);
    give_up(first);
    return;
  }
  Protect(section);
  Protect(wake);
  Protect(detach);
  Protect(watcher);
  if (s->scope != kScopeWindow) {
    MakeOwnWindow(*s);
    JoinFamily(*s);
    if (s->options & kTakeNew) s->hooked = HoldCreationHook(s->thread);
  }
  // Without the waits the session would only end at a message: a quiet window would keep the
  // view of a watcher long gone. Both are asked for; a refusal leaves the message path.
  RegisterWaitForSingleObject(&s->detach_wait, detach, DetachSignaled, s, INFINITE,
                              WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD);
  RegisterWaitForSingleObject(&s->watcher_wait, watcher, WatcherGone, s, INFINITE,
                              WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD);
  SetStatus(*s, kAttached, 0);
}

// --- capture -----------------------------------------------------------------------------

void Wake(Session& s) {
  Header* h = s.view;
  if (!h->woken && InterlockedExchange(&h->woken, 1) == 0) SetEvent(s.wake);
}

void PublishLost(Session& s) {
  ++s.lost;
  InterlockedExchange(&s.view->lost_tag, 0);
  Publish(&s.view->lost, s.lost);
  Publish(&s.view->lost_tag, LostTag(s.key, s.lost));
}

// Writes a watched message's record; the local copy `r` is what the tags are made from (what
// is in shared memory may change under us).
bool Write(Session& s, Record& r, Data** data, ULONG window, UINT msg, WPARAM wp, LPARAM lp, ULONG origin,
           LONGLONG time, bool unicode, USHORT flags) {
  Header* h = s.view;
  ULONG used = static_cast<ULONG>(s.write_index - s.read_index);
  if (used >= s.capacity) {
    s.read_index = h->read_index;
    used = static_cast<ULONG>(s.write_index - s.read_index);
  }
  if (used >= s.capacity) {  // full, or a read index that makes no sense: nothing is written
    PublishLost(s);
    Wake(s);
    return false;
  }
  const ULONG index = static_cast<ULONG>(s.write_index);
  Record* shared = RecordAt(h, s.capacity, index);
  Data* d = DataAt(h, s.capacity, index);
  Publish(&shared->stamp, 0);
  Publish(&shared->result_stamp, 0);
  r.stamp = 0;
  r.result_stamp = 0;
  r.hwnd = window;
  r.msg = msg;
  r.origin = static_cast<USHORT>(origin);
  r.flags = static_cast<USHORT>((unicode ? kUnicodeWindow : 0) | flags);
  r.wparam = static_cast<LONGLONG>(static_cast<LONG_PTR>(wp));
  r.lparam = static_cast<LONGLONG>(lp);
  r.time = time;
  r.result = 0;
  r.lost_total = static_cast<ULONG>(s.lost);
  if (!flags) data::AtEntry(&r, d, msg, wp, lp, unicode);
  else r.data_kind = r.value_count = r.text_chars = r.byte_count = 0;
  const LONG stamp = ++s.write_index;
  r.stamp = RecordTag(s.key, static_cast<ULONG>(stamp), r);
  shared->hwnd = r.hwnd;
  shared->msg = r.msg;
  shared->origin = r.origin;
  shared->flags = r.flags;
  shared->lost_total = r.lost_total;
  shared->wparam = r.wparam;
  shared->lparam = r.lparam;
  shared->time = r.time;
  shared->result = 0;
  shared->data_kind = r.data_kind;
  shared->value_count = r.value_count;
  shared->text_chars = r.text_chars;
  shared->byte_count = r.byte_count;
  Publish(&shared->stamp, r.stamp);
  Publish(&h->write_index, stamp);
  *data = d;
  if (used + 1 >= s.mark) {
    s.read_index = h->read_index;  // the watcher may have taken more meanwhile
    if (static_cast<ULONG>(s.write_index - s.read_index) >= s.mark) Wake(s);
  }
  return true;
}

// Publishes what is known once the window answered: the result and the data's counts.
void Answer(Session& s, Record* shared, LONG stamp, const Record& r, const WCHAR* text = nullptr) {
  shared->result = r.result;
  shared->data_kind = r.data_kind;
  shared->value_count = r.value_count;
  shared->text_chars = r.text_chars;
  shared->byte_count = r.byte_count;
  Publish(&shared->result_stamp, ResultTag(s.key, static_cast<ULONG>(stamp), r, text));
}

// A family's record that a window joined it (its class as the text; its parent and its owner as
// values) or left it (the result says why).
void Mark(Session& s, HWND hwnd, USHORT flag, LONG reason) {
  Record r;
  Data* d = nullptr;
  if (!Write(s, r, &d, Low32(hwnd), 0, 0, 0, 0, FileTimeNow(), true, flag)) return;
  // The class is tagged from our own copy: what the buffer holds may change under us.
  WCHAR cls[kMaxTextChars] = {};
  if (flag == kWindowJoined) {
    int n = GetClassNameW(hwnd, cls, kMaxTextChars);
    if (n < 0) n = 0;
    for (int i = 0; i < n; ++i) d->text[i] = cls[i];
    r.text_chars = static_cast<USHORT>(n);
    d->values[0] = static_cast<LONGLONG>(Low32(GetAncestor(hwnd, GA_PARENT)));
    d->values[1] = static_cast<LONGLONG>(Low32(GetWindow(hwnd, GW_OWNER)));
    r.value_count = 2;
    r.data_kind = data::kText;
  }
  r.result = reason;
  Answer(s, RecordAt(s.view, s.capacity, static_cast<ULONG>(s.write_index - 1)), s.write_index, r,
         flag == kWindowJoined ? cls : nullptr);
}

// Lets go of the session when its watcher left or is gone, or it ended otherwise (on its thread).
void FollowWatcher(Session& s, UINT msg, DWORD now) {
  if (!s.view) return;
  // The watcher's hint that it set its event, or the WM_NULL it sends after: followed at once
  // (the hint at most once a millisecond, whoever else writes it), so that a watcher that leaves
  // finds the window restored by its next message.
  if (!s.leave && (msg == WM_NULL || (s.view->detach_hint && s.hint_checked != now))) {
    s.hint_checked = now;
    if (WaitForSingleObject(s.detach, 0) == WAIT_OBJECT_0) InterlockedCompareExchange(&s.leave, kEndWatcherLeft, 0);
  }
  if (s.leave) CloseSession(s, s.leave);
}

void Housekeeping(Window* w, UINT msg) {
  const DWORD now = GetTickCount();
  for (Session* volatile& slot : w->session)
    if (Session* linked = slot) FollowWatcher(*linked, msg, now);
}

// The family's own window: the waits' WM_NULL reaches the session here, whether or not a window of
// the family is left on the thread.
LRESULT CALLBACK OwnWindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NULL) {
    auto* s = reinterpret_cast<Session*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (s && s->own == h && s->thread == GetCurrentThreadId()) FollowWatcher(*s, msg, GetTickCount());
    return 0;
  }
  if (msg == WM_CLOSE) {  // only from a session that ended elsewhere
    if (!GetWindowLongPtrW(h, GWLP_USERDATA)) DestroyWindow(h);
    return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

bool OwnWindow(HWND h) { return g_own_class && static_cast<ATOM>(GetClassLongW(h, GCW_ATOM)) == g_own_class; }

// Makes the session's own window (kept null when the platform refuses: the family's windows
// are the nudges then, as for a window alone).
void MakeOwnWindow(Session& s) {
  if (!g_own_class && g_self) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = OwnWindowProc;
    wc.hInstance = g_self;
    wc.lpszClassName = kOwnWindowClass;
    g_own_class = RegisterClassW(&wc);
    if (!g_own_class) {
      WNDCLASSEXW have{};
      have.cbSize = sizeof have;
      g_own_class = static_cast<ATOM>(GetClassInfoExW(g_self, kOwnWindowClass, &have));
    }
  }
  if (!g_own_class) return;
  HWND own = CreateWindowExW(0, kOwnWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_self, nullptr);
  if (!own) return;
  SetWindowLongPtrW(own, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&s));
  s.own = own;
  s.nudge = own;
}

struct Pending {
  Session* session;
  LONG generation;
  Record* shared;
  Data* data;
  LONG stamp;
  Record record;  // our copy
};

// A call to one of our procedures for another window than the one it serves: a program that keeps
// the procedure it replaced in one window (ours) in one global and hands the messages of other
// windows to it. Unwatched, it would have handed them to the procedure below ours, so they go there;
// a procedure of ours that serves no window hands them to the window's class.
LRESULT Stray(const Window& w, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  const LONG state = w.state;
  const WNDPROC prev = w.prev;
  if ((state == kActive || state == kRetired) && prev) return Forward(prev, w.unicode, hwnd, msg, wp, lp);
  const bool unicode = IsWindowUnicode(hwnd) != FALSE;
  LONG_PTR cls = unicode ? GetClassLongPtrW(hwnd, GCLP_WNDPROC) : GetClassLongPtrA(hwnd, GCLP_WNDPROC);
  for (WNDPROC p : Procs::procs)
    if (reinterpret_cast<LONG_PTR>(p) == cls) cls = 0;
  if (cls) return Forward(reinterpret_cast<WNDPROC>(cls), unicode, hwnd, msg, wp, lp);
  return unicode ? DefWindowProcW(hwnd, msg, wp, lp) : DefWindowProcA(hwnd, msg, wp, lp);
}

// A window of a family with its children has another parent now: each such family on this thread
// looks again at which of its windows here are still the root's descendants (the moved window's own
// children went along with it); those that are not leave it.
void Moved(Window& moved) {
  const DWORD self = GetCurrentThreadId();
  for (Session* volatile& slot : moved.session) {
    Session* s = slot;
    if (!s || !s->view || s->scope != kScopeChildren || s->thread != self) continue;
    for (Window& o : g_windows) {
      if (o.state != kActive || o.gone || o.thread != self || !Linked(o, s) || Belongs(*s, o.hwnd)) continue;
      Mark(*s, o.hwnd, kWindowLeft, kLeftMovedOut);
      Unlink(o, s);
      if (&o != &moved && !o.sessions && !o.depth && !o.leaving) AfterLastSession(o);
    }
  }
}

// The capture itself: only on the window's thread, inside a frame counted in `depth`.
LRESULT Capture(Window& w, WNDPROC prev, bool unicode, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (w.sessions) Housekeeping(&w, msg);
  if (w.in_children && w.sessions) {
    HWND parent = GetAncestor(hwnd, GA_PARENT);
    if (Low32(parent) != Low32(w.parent)) {
      w.parent = parent;
      Moved(w);
    }
  }
  if (!w.sessions) {
    // A pass-through: it goes with the window, or steps out once on top again (only when no
    // capturing frame of ours is below this one: they use the entry after).
    if (msg == WM_NCDESTROY) {
      w.gone = true;
      Retire(w, kEndWindowDestroyed);
    } else if (w.depth == 1) {
      AfterLastSession(w);
    }
    return Next(w, prev, unicode, hwnd, msg, wp, lp);
  }
  Pending pending[kMaxSessions];
  int n = 0;
  ULONG origin = 0;
  LONGLONG time = 0;
  bool first = true;
  for (Session* volatile& slot : w.session) {
    Session* linked = slot;
    if (!linked) continue;
    Session& s = *linked;
    if (!s.view || !Filtered(s.view, msg)) continue;
    if (first) {  // what every watcher's record shares, read once and only for a watched message
      first = false;
      origin = InSendMessageEx(nullptr);
      time = FileTimeNow();
    }
    Pending& p = pending[n];
    if (Write(s, p.record, &p.data, Low32(hwnd), msg, wp, lp, origin, time, unicode)) {
      p.session = &s;
      p.generation = s.generation;
      p.stamp = s.write_index;
      p.shared = RecordAt(s.view, s.capacity, static_cast<ULONG>(s.write_index - 1));
      ++n;
    }
  }
  const LRESULT result = Next(w, prev, unicode, hwnd, msg, wp, lp);
  // The window answered: the result goes into each record still ours (this thread is the only
  // writer, so a session whose generation is unchanged has not been given up meanwhile, also not by
  // a cut-out noticed inside the call).
  for (int i = 0; i < n; ++i) {
    Pending& p = pending[i];
    if (p.session->generation != p.generation || !p.session->view) continue;
    Record& r = p.record;
    if (data::AnswerInData(msg)) data::AtReturn(&r, p.data, msg, wp, lp, result, unicode);
    r.result = static_cast<LONGLONG>(result);
    Answer(*p.session, p.shared, p.stamp, r);
  }
  if (w.state != kActive) return result;  // let go of meanwhile
  if (msg == WM_NCDESTROY) {  // the window is gone: so is every session on it
    w.gone = true;
    Retire(w, kEndWindowDestroyed);
  } else if (w.depth == 1 && !w.sessions) {  // a last session's leaving completes off the stack
    AfterLastSession(w);
  }
  return result;
}

LRESULT Dispatch(Window& w, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  const LONG state = w.state;
  if ((state != kActive && state != kRetired) || Low32(w.hwnd) != Low32(hwnd)) return Stray(w, hwnd, msg, wp, lp);
  const WNDPROC prev = w.prev;
  const bool unicode = w.unicode;
  if (msg == ProbeMessage() && wp == kProbeTag) {
    if (lp && lp == w.asking) {  // our own asking whether messages still reach this procedure
      w.reached = static_cast<LONG>(lp);
      return 0;
    }
    if (!lp) return 0;  // the timer's nudge: nothing below us needs it
    return Forward(prev, unicode, hwnd, msg, wp, lp);  // an asking for another of ours, further down
  }
  if (state != kActive || !prev) return prev ? Forward(prev, unicode, hwnd, msg, wp, lp) : Stray(w, hwnd, msg, wp, lp);
  InterlockedIncrement(&w.depth);
  const LRESULT result = (w.releasing || w.state != kActive || w.thread != GetCurrentThreadId())
                             ? Forward(prev, unicode, hwnd, msg, wp, lp)
                             : Capture(w, prev, unicode, hwnd, msg, wp, lp);
  InterlockedDecrement(&w.depth);
  return result;
}

UINT AttachMessage() {
  if (!g_attach_message) g_attach_message = RegisterWindowMessageW(kAttachMessage);
  return g_attach_message;
}

}  // namespace

// The hook procedure: it only waits for the message that asks to attach.
extern "C" __declspec(dllexport) LRESULT CALLBACK HookwireAttachProc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && lp) {
    const CWPSTRUCT* c = reinterpret_cast<const CWPSTRUCT*>(lp);
    if (c->message && c->message == AttachMessage() && c->hwnd)
      Attach(c->hwnd, static_cast<DWORD>(c->wParam), static_cast<ULONG>(c->lParam));
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// The entry point itself (linked with -e): there is no runtime start-up code before it.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
