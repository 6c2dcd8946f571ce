// HookwireHook32.dll / HookwireHook64.dll: the part of Hookwire that runs inside a watched
// program. A watcher sets a hook on the window's thread only to get this DLL there and to
// ask it, with one sent message, to attach: from then on the DLL watches the window from
// inside, as a subclass on the window's own thread, and writes one record per watched
// message into a buffer shared with that watcher alone (capture_ring.h). The hook comes off
// right after; the DLL keeps itself loaded while it may still be in a window's chain.
//
// Nothing here may harm the program: it never waits, never throws, never trusts what it
// reads from the shared buffer beyond the moment, and when the last watcher goes it leaves
// the window as it found it (or, when the program subclassed the window after us, stays in
// the chain as a plain pass-through and steps out once it is on top again).
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

constexpr int kMaxWindows = 64;
constexpr int kMaxSessions = 8;  // watchers of one window
constexpr DWORD kWatcherCheckMs = 1000;

struct Session {
  Header* view;  // null when the slot is free
  HANDLE section;
  HANDLE wake;
  HANDLE watcher;
  ULONG capacity;
  ULONG mark;
  ULONG window;  // the watched window, as the records carry it
  LONG write_index;
  LONG read_index;  // where the watcher stood when last looked at: read again only when that looks full
  LONG lost;
  LONG generation;  // changes whenever the slot is given up
};

struct Window {
  volatile LONG claimed;
  volatile HWND hwnd;
  WNDPROC prev;
  bool unicode;
  bool subclassed;
  int sessions;
  DWORD last_check;
  Session session[kMaxSessions];
};

Window g_windows[kMaxWindows];
volatile LONG g_used = 0;  // entries below this may be in use
volatile LONG g_pinned = 0;
UINT g_attach_message = 0;

LRESULT CALLBACK CaptureProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

Window* Find(HWND h) {
  const LONG used = g_used;
  for (LONG i = 0; i < used; ++i)
    if (g_windows[i].claimed && g_windows[i].hwnd == h) return &g_windows[i];
  return nullptr;
}

Window* Claim(HWND h) {
  for (LONG i = 0; i < kMaxWindows; ++i) {
    Window& w = g_windows[i];
    if (InterlockedCompareExchange(&w.claimed, 1, 0) != 0) continue;
    w.prev = nullptr;
    w.subclassed = false;
    w.sessions = 0;
    w.last_check = GetTickCount();
    for (Session& s : w.session) s.view = nullptr;
    w.hwnd = h;
    for (LONG used = g_used; used <= i; used = g_used) InterlockedCompareExchange(&g_used, i + 1, used);
    return &w;
  }
  return nullptr;
}

void Free(Window* w) {
  w->hwnd = nullptr;
  InterlockedExchange(&w->claimed, 0);
}

LONG_PTR CurrentProc(const Window* w) {
  return w->unicode ? GetWindowLongPtrW(w->hwnd, GWLP_WNDPROC) : GetWindowLongPtrA(w->hwnd, GWLP_WNDPROC);
}

// Takes our procedure out of the window when nobody put another one above it since; true
// when the window is as it was before us.
bool StepOut(Window* w) {
  if (!w->subclassed) return true;
  if (CurrentProc(w) != reinterpret_cast<LONG_PTR>(CaptureProc)) return false;
  LONG_PTR prev = reinterpret_cast<LONG_PTR>(w->prev);
  if (w->unicode) SetWindowLongPtrW(w->hwnd, GWLP_WNDPROC, prev);
  else SetWindowLongPtrA(w->hwnd, GWLP_WNDPROC, prev);
  w->subclassed = false;
  return true;
}

void CloseSession(Window* w, Session& s, LONG final_state) {
  InterlockedExchange(&s.view->state, final_state);
  UnmapViewOfFile(s.view);
  CloseHandle(s.section);
  CloseHandle(s.wake);
  CloseHandle(s.watcher);
  s.view = nullptr;
  ++s.generation;
  --w->sessions;
}

// After the last session: out of the chain if we can, else a pass-through until we can.
void AfterLastSession(Window* w) {
  if (w->sessions == 0 && StepOut(w)) Free(w);
}

// --- attach ------------------------------------------------------------------------------

bool ValidHeader(const Header* h, SIZE_T size) {
  if (size < kHeaderSize || h->magic != kMagic || h->version != kVersion || h->record_size != kRecordSize) return false;
  const ULONG cap = h->capacity;
  if (cap == 0 || (cap & (cap - 1)) != 0 || cap > (1u << 20)) return false;
  return static_cast<ULONGLONG>(kHeaderSize) + static_cast<ULONGLONG>(cap) * kRecordSize <= size &&
         h->mark >= 1 && h->mark <= cap;
}

void Refuse(Header* h, Refusal why) {
  InterlockedExchange(&h->refusal, why);
  InterlockedExchange(&h->state, kRefused);
}

void Attach(HWND hwnd, HANDLE section) {
  void* view = MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
  if (!view) return;
  MEMORY_BASIC_INFORMATION mbi{};
  if (!VirtualQuery(view, &mbi, sizeof mbi) || !ValidHeader(static_cast<Header*>(view), mbi.RegionSize)) {
    UnmapViewOfFile(view);  // not ours to touch: the handle may be anything of this program's
    return;
  }
  Header* h = static_cast<Header*>(view);
  // Moving the state out of kNew makes the handles ours; a watcher that gave up first keeps them.
  if (InterlockedCompareExchange(&h->state, kAttached, kNew) != kNew) {
    UnmapViewOfFile(view);
    return;
  }
  const HANDLE wake = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(h->wake_event));
  const HANDLE watcher = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(h->watcher_process));
  auto give_up = [&](Refusal why) {
    Refuse(h, why);
    UnmapViewOfFile(view);
    CloseHandle(section);
    CloseHandle(wake);
    CloseHandle(watcher);
  };
  if (reinterpret_cast<ULONG_PTR>(hwnd) != h->target || GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId() ||
      h->target_thread != GetCurrentThreadId()) {
    give_up(kWrongWindow);
    return;
  }
  Window* w = Find(hwnd);
  const bool new_entry = !w;
  if (!w) w = Claim(hwnd);
  Session* s = nullptr;
  if (w)
    for (Session& candidate : w->session)
      if (!candidate.view) {
        s = &candidate;
        break;
      }
  if (!s) {
    if (w && new_entry) Free(w);
    give_up(kTooMany);
    return;
  }
  if (!w->subclassed) {
    w->unicode = IsWindowUnicode(hwnd) != FALSE;
    SetLastError(0);
    LONG_PTR prev = w->unicode ? SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CaptureProc))
                               : SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CaptureProc));
    if (!prev) {
      if (new_entry) Free(w);
      give_up(kNoSubclass);
      return;
    }
    w->prev = reinterpret_cast<WNDPROC>(prev);
    w->subclassed = true;
  }
  // Our procedure is in a window's chain now: this DLL must outlive any FreeLibrary.
  if (InterlockedExchange(&g_pinned, 1) == 0) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&CaptureProc), &self);
  }
  s->section = section;
  s->wake = wake;
  s->watcher = watcher;
  s->capacity = h->capacity;
  s->mark = h->mark;
  s->window = h->target;
  s->write_index = 0;
  s->read_index = 0;
  s->lost = 0;
  h->write_index = 0;
  h->lost = 0;
  h->target_64bit = sizeof(void*) == 8;
  h->attached_time = FileTimeNow();
  s->view = h;
  ++w->sessions;
}

// --- capture -----------------------------------------------------------------------------

void Wake(Session& s) {
  Header* h = s.view;
  if (!h->woken && InterlockedExchange(&h->woken, 1) == 0) SetEvent(s.wake);
}

Record* Write(Session& s, UINT msg, WPARAM wp, LPARAM lp, ULONG origin, LONGLONG time, bool unicode) {
  Header* h = s.view;
  ULONG used = static_cast<ULONG>(s.write_index - s.read_index);
  if (used >= s.capacity) {
    s.read_index = h->read_index;
    used = static_cast<ULONG>(s.write_index - s.read_index);
  }
  if (used >= s.capacity) {  // full, or a read index that makes no sense: nothing is written
    Publish(&h->lost, ++s.lost);
    Wake(s);
    return nullptr;
  }
  Record* r = RecordAt(h, s.capacity, static_cast<ULONG>(s.write_index));
  Data* d = DataAt(h, s.capacity, static_cast<ULONG>(s.write_index));
  Publish(&r->stamp, 0);
  r->result_stamp = 0;
  r->hwnd = s.window;
  r->msg = msg;
  r->origin = static_cast<USHORT>(origin);
  r->flags = unicode ? kUnicodeWindow : 0;
  r->wparam = static_cast<LONGLONG>(static_cast<LONG_PTR>(wp));
  r->lparam = static_cast<LONGLONG>(lp);
  r->time = time;
  r->result = 0;
  r->lost_total = static_cast<ULONG>(s.lost);
  data::AtEntry(r, d, msg, wp, lp, unicode);
  const LONG stamp = ++s.write_index;
  Publish(&r->stamp, stamp);
  Publish(&h->write_index, stamp);
  if (used + 1 >= s.mark) {
    s.read_index = h->read_index;  // the watcher may have taken more meanwhile
    if (static_cast<ULONG>(s.write_index - s.read_index) >= s.mark) Wake(s);
  }
  return r;
}

// Lets go of sessions whose watcher left or is gone.
void Housekeeping(Window* w) {
  const DWORD now = GetTickCount();
  const bool check_watchers = now - w->last_check >= kWatcherCheckMs;
  if (check_watchers) w->last_check = now;
  for (Session& s : w->session) {
    if (!s.view) continue;
    if (s.view->state != kAttached) CloseSession(w, s, kDetached);
    else if (check_watchers && WaitForSingleObject(s.watcher, 0) == WAIT_OBJECT_0) CloseSession(w, s, kDetached);
  }
}

struct Pending {
  Session* session;
  LONG generation;
  Record* record;
  LONG stamp;
  Data* data;
};

LRESULT CALLBACK CaptureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = Find(hwnd);
  if (!w) return DefWindowProcW(hwnd, msg, wp, lp);  // cannot happen: we are only in windows we know
  const WNDPROC prev = w->prev;
  const bool unicode = w->unicode;
  if (w->sessions) Housekeeping(w);
  if (!w->sessions) {
    AfterLastSession(w);
    return unicode ? CallWindowProcW(prev, hwnd, msg, wp, lp) : CallWindowProcA(prev, hwnd, msg, wp, lp);
  }
  Pending pending[kMaxSessions];
  int n = 0;
  ULONG origin = 0;
  LONGLONG time = 0;
  bool first = true;
  for (Session& s : w->session) {
    if (!s.view || !Filtered(s.view, msg)) continue;
    if (first) {  // what every watcher's record shares, read once and only for a watched message
      first = false;
      origin = InSendMessageEx(nullptr);
      time = FileTimeNow();
    }
    if (Record* r = Write(s, msg, wp, lp, origin, time, unicode))
      pending[n++] = {&s, s.generation, r, r->stamp, DataAt(s.view, s.capacity, static_cast<ULONG>(r->stamp - 1))};
  }
  const LRESULT result =
      unicode ? CallWindowProcW(prev, hwnd, msg, wp, lp) : CallWindowProcA(prev, hwnd, msg, wp, lp);
  // The window answered: the result goes into each record still ours (this thread is the only
  // writer, so a record whose stamp is unchanged has not been reused).
  for (int i = 0; i < n; ++i) {
    Pending& p = pending[i];
    if (p.session->generation != p.generation || !p.session->view || p.record->stamp != p.stamp) continue;
    if (data::AnswerInData(msg)) data::AtReturn(p.record, p.data, msg, wp, lp, result, unicode);
    p.record->result = static_cast<LONGLONG>(result);
    Publish(&p.record->result_stamp, p.stamp);
  }
  if (msg == WM_NCDESTROY && w->hwnd == hwnd) {  // the window is gone: so is every session on it
    for (Session& s : w->session)
      if (s.view) CloseSession(w, s, kDetached);
    Free(w);
  }
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
    if (c->message && c->message == AttachMessage() && c->hwnd) Attach(c->hwnd, reinterpret_cast<HANDLE>(c->wParam));
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// The entry point itself (linked with -e): there is no runtime start-up code before it.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
