#include "remote_capture.h"

#include <map>
#include <string>

#include "capture_table.h"
#include "com_server.h"
#include "hookwire_window.h"
#include "runtime_error.h"

namespace hookwire {

using namespace capture;

namespace {

constexpr const wchar_t* kSource = L"Hookwire.HookwireWindow";
constexpr wchar_t kReceiverClass[] = L"HookwireReceiver";

// --- the hook DLL and the table, loaded on first use ------------------------------------
//
// Everything this file keeps for the process is given back when the server may unload
// (ReleaseShared): a client that loads and frees Hookwire.dll again and again must not
// collect copies of the hook DLL, the table or window classes. No thread-local storage and
// no runtime locks: plain Win32 locks, which need no set-up and leave nothing behind.

struct HookLibrary {
  HMODULE module = nullptr;
  HOOKPROC call_wnd_proc = nullptr;
  HOOKPROC get_msg_proc = nullptr;
  Table* table = nullptr;
  HANDLE mapping = nullptr;
  bool loaded = false;
};

SRWLOCK g_library_lock = SRWLOCK_INIT;
HookLibrary g_library;

const HookLibrary& Library() {
  AcquireSRWLockExclusive(&g_library_lock);
  HookLibrary& l = g_library;
  if (!l.loaded) {
    l.loaded = true;
    std::wstring path = common::Module::Path();
    path.erase(path.find_last_of(L"\\/") + 1);
    path += L"HookwireHook.dll";
    l.module = LoadLibraryW(path.c_str());
    if (l.module) {
      l.call_wnd_proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(l.module, "HookwireCallWndProc")));
      l.get_msg_proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(l.module, "HookwireGetMsgProc")));
    }
    l.table = OpenTable(&l.mapping);
  }
  ReleaseSRWLockExclusive(&g_library_lock);
  return l;
}

bool SameBitness(DWORD pid) {
  if (pid == GetCurrentProcessId()) return true;
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!p) return false;
  BOOL theirs = FALSE, ours = FALSE;
  BOOL ok = IsWow64Process(p, &theirs) && IsWow64Process(GetCurrentProcess(), &ours);
  CloseHandle(p);
  return ok && theirs == ours;
}

// --- hooks, shared by the watchers of one client thread on one target thread ---------

struct Hooks {
  HHOOK call_wnd = nullptr;
  HHOOK get_msg = nullptr;
  int users = 0;
  int entry = -1;  // its record in the table
};

// Records a pair of hooks in the table, so that the target can remove them should this process die.
int RecordHooks(DWORD target_thread, HHOOK call_wnd, HHOOK get_msg) {
  Table* t = Library().table;
  for (int i = 0; i < kMaxHooks; ++i) {
    HookEntry& e = t->hooks[i];
    if (InterlockedCompareExchange(&e.state, kClaimed, kFree) != kFree) continue;
    e.target_thread = static_cast<LONG>(target_thread);
    e.owner_pid = static_cast<LONG>(GetCurrentProcessId());
    e.call_wnd = reinterpret_cast<LONG_PTR>(call_wnd);
    e.get_msg = reinterpret_cast<LONG_PTR>(get_msg);
    InterlockedExchange(&e.state, kActive);
    return i;
  }
  return -1;  // no record: the hooks still work, only the clean-up after a crash is lost
}

SRWLOCK g_hooks_lock = SRWLOCK_INIT;
std::map<std::pair<DWORD, DWORD>, Hooks> g_hooks;  // (client thread, target thread)

struct HooksGuard {
  HooksGuard() noexcept { AcquireSRWLockExclusive(&g_hooks_lock); }
  ~HooksGuard() { ReleaseSRWLockExclusive(&g_hooks_lock); }
  HooksGuard(const HooksGuard&) = delete;
  HooksGuard& operator=(const HooksGuard&) = delete;
};

void AddHookUser(DWORD target_thread) {
  const HookLibrary& lib = Library();
  HooksGuard guard;
  Hooks& h = g_hooks[{GetCurrentThreadId(), target_thread}];
  if (h.users == 0) {
    h.call_wnd = SetWindowsHookExW(WH_CALLWNDPROC, lib.call_wnd_proc, lib.module, target_thread);
    h.get_msg = h.call_wnd ? SetWindowsHookExW(WH_GETMESSAGE, lib.get_msg_proc, lib.module, target_thread) : nullptr;
    if (!h.call_wnd || !h.get_msg) {
      if (h.call_wnd) UnhookWindowsHookEx(h.call_wnd);
      g_hooks.erase({GetCurrentThreadId(), target_thread});
      common::Raise(common::errInvalidArgument, kSource, L"The platform refused to hook the window's thread");
    }
    h.entry = RecordHooks(target_thread, h.call_wnd, h.get_msg);
  }
  ++h.users;
}

void RemoveHookUser(DWORD target_thread) noexcept {
  HooksGuard guard;
  auto it = g_hooks.find({GetCurrentThreadId(), target_thread});
  if (it == g_hooks.end()) return;
  if (--it->second.users == 0) {
    if (it->second.entry >= 0) InterlockedExchange(&Library().table->hooks[it->second.entry].state, kFree);
    UnhookWindowsHookEx(it->second.get_msg);
    UnhookWindowsHookEx(it->second.call_wnd);
    g_hooks.erase(it);
  }
}

// --- the receiving window of the client's thread ----------------------------------------

// One per client thread that watches another thread's window, found through the thread's id
// and, from its window, through the window's user data.
struct Receiver {
  HWND hwnd = nullptr;
  std::map<int, std::pair<HookwireWindow*, LONG>> owners;  // slot -> (window object, generation)
};
SRWLOCK g_receivers_lock = SRWLOCK_INIT;
std::map<DWORD, Receiver*> g_receivers;  // client thread -> its receiver

Receiver* ThreadReceiver(bool create) {
  const DWORD self = GetCurrentThreadId();
  AcquireSRWLockExclusive(&g_receivers_lock);
  Receiver* r = nullptr;
  try {
    auto it = g_receivers.find(self);
    if (it != g_receivers.end()) r = it->second;
    else if (create) r = g_receivers[self] = new Receiver();
  } catch (...) {
    r = nullptr;
  }
  ReleaseSRWLockExclusive(&g_receivers_lock);
  if (create && !r) common::Raise(common::errInvalidArgument, kSource, L"Out of memory");
  return r;
}

LRESULT CALLBACK ReceiverProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != WM_COPYDATA) return DefWindowProcW(h, msg, wp, lp);
  auto* receiver = reinterpret_cast<Receiver*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  const COPYDATASTRUCT* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
  if (!receiver || !cds || cds->dwData != kPacketTag || cds->cbData != sizeof(Packet) || !cds->lpData) return FALSE;
  Packet p;
  memcpy(&p, cds->lpData, sizeof p);
  auto it = receiver->owners.find(p.slot);
  if (it == receiver->owners.end() || it->second.second != p.generation) return FALSE;
  // Taken before the sink runs; a packet whose sender gave up waiting is refused (the target
  // counted it lost).
  Watcher& w = Library().table->watchers[p.slot];
  if (InterlockedCompareExchange(&w.pending, 0, p.sequence) != p.sequence) return FALSE;
  // The sink may release the window object, and with it this receiver: nothing is touched after.
  it->second.first->DeliverCaptured(static_cast<UINT>(p.msg), static_cast<LONG_PTR>(p.wParam),
                                    static_cast<LONG_PTR>(p.lParam));
  return TRUE;
}

Receiver& ReceiverWindow() {
  Receiver* r = ThreadReceiver(true);
  if (r->hwnd) return *r;
  WNDCLASSW wc{};
  wc.lpfnWndProc = ReceiverProc;
  wc.hInstance = common::Module::instance;
  wc.lpszClassName = kReceiverClass;
  RegisterClassW(&wc);  // fails harmlessly when the class exists (another thread's receiver)
  r->hwnd = CreateWindowExW(0, kReceiverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, common::Module::instance,
                            nullptr);
  if (r->hwnd) SetWindowLongPtrW(r->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(r));
  if (!r->hwnd) common::Raise(common::errInvalidArgument, kSource, L"Cannot create the receiving window");
  return *r;
}

void ReleaseReceiverIfUnused() noexcept {
  Receiver* r = ThreadReceiver(false);
  if (!r || !r->owners.empty()) return;
  AcquireSRWLockExclusive(&g_receivers_lock);
  g_receivers.erase(GetCurrentThreadId());
  ReleaseSRWLockExclusive(&g_receivers_lock);
  if (r->hwnd) DestroyWindow(r->hwnd);
  delete r;
  // A class left registered would outlive this DLL, its procedure pointing into freed code
  // once the DLL is unloaded and loaded elsewhere. Fails harmlessly while another thread's
  // receiver still uses it.
  UnregisterClassW(kReceiverClass, common::Module::instance);
}

// Takes a free slot, or one left behind by a spy that no longer runs.
int ClaimSlot(Table* t) {
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < kMaxWatchers; ++i) {
      Watcher& w = t->watchers[i];
      if (pass == 1 && w.state == kActive && !ProcessAlive(static_cast<DWORD>(w.owner_pid))) {
        InterlockedCompareExchange(&w.state, kFree, kActive);
      }
      if (InterlockedCompareExchange(&w.state, kClaimed, kFree) == kFree) return i;
    }
  }
  return -1;
}

}  // namespace

bool RemoteCapture::Available(HWND target) noexcept {
  DWORD pid = 0;
  if (!target || !GetWindowThreadProcessId(target, &pid)) return false;
  const HookLibrary& lib = Library();
  return lib.module && lib.call_wnd_proc && lib.get_msg_proc && lib.table && SameBitness(pid);
}

RemoteCapture::RemoteCapture(HookwireWindow* owner, HWND target) {
  if (!Available(target)) common::Raise(common::errInvalidArgument, kSource, L"This window cannot be watched");
  Table* t = Library().table;
  Receiver& rcv = ReceiverWindow();
  HWND receiver = rcv.hwnd;
  slot_ = ClaimSlot(t);
  if (slot_ < 0) {
    ReleaseReceiverIfUnused();
    common::Raise(common::errInvalidArgument, kSource, L"Too many windows of other programs are being watched");
  }
  Watcher& w = t->watchers[slot_];
  w.target = 0;
  w.receiver = static_cast<LONG>(reinterpret_cast<LONG_PTR>(receiver));
  w.owner_pid = static_cast<LONG>(GetCurrentProcessId());
  w.watch_all = 0;
  w.stalled_until = static_cast<LONG>(GetTickCount());
  w.delivered = 0;
  w.lost = 0;
  w.sequence = 0;
  w.pending = 0;
  w.target_thread = static_cast<LONG>(GetWindowThreadProcessId(target, nullptr));
  for (auto& word : w.filter) word = 0;
  LONG generation = InterlockedIncrement(&w.generation);
  try {
    rcv.owners[slot_] = {owner, generation};
  } catch (...) {
    InterlockedExchange(&w.state, kFree);
    ReleaseReceiverIfUnused();
    throw;
  }
  target_thread_ = GetWindowThreadProcessId(target, nullptr);
  try {
    AddHookUser(target_thread_);
  } catch (...) {
    rcv.owners.erase(slot_);
    InterlockedExchange(&w.state, kFree);
    ReleaseReceiverIfUnused();
    throw;
  }
  InterlockedExchange(&w.target, static_cast<LONG>(reinterpret_cast<LONG_PTR>(target)));
  InterlockedExchange(&w.state, kActive);
}

RemoteCapture::~RemoteCapture() {
  Watcher& w = Library().table->watchers[slot_];
  InterlockedExchange(&w.target, 0);
  InterlockedExchange(&w.state, kFree);
  if (Receiver* r = ThreadReceiver(false)) r->owners.erase(slot_);
  RemoveHookUser(target_thread_);
  ReleaseReceiverIfUnused();
}

LONG RemoteCapture::Lost() const noexcept { return Library().table->watchers[slot_].lost; }

bool RemoteCapture::ReleaseShared() noexcept {
  {
    HooksGuard guard;
    if (!g_hooks.empty()) return false;
  }
  AcquireSRWLockShared(&g_receivers_lock);
  const bool receivers = !g_receivers.empty();
  ReleaseSRWLockShared(&g_receivers_lock);
  if (receivers) return false;
  AcquireSRWLockExclusive(&g_library_lock);
  HookLibrary& l = g_library;
  if (l.table) UnmapViewOfFile(l.table);
  if (l.mapping) CloseHandle(l.mapping);
  if (l.module) FreeLibrary(l.module);
  l = HookLibrary{};
  ReleaseSRWLockExclusive(&g_library_lock);
  return true;
}

void RemoteCapture::SetFilter(bool all, const std::bitset<0x10000>* bits) noexcept {
  Watcher& w = Library().table->watchers[slot_];
  for (size_t word = 0; word < std::size(w.filter); ++word) {
    ULONG v = 0;
    if (bits)
      for (size_t b = 0; b < 32; ++b)
        if (bits->test(word * 32 + b)) v |= 1UL << b;
    w.filter[word] = v;
  }
  InterlockedExchange(&w.watch_all, all ? 1 : 0);
}

}  // namespace hookwire
