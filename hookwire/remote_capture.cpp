#include "remote_capture.h"

#include <map>
#include <mutex>
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

// --- the hook DLL and the table, loaded once per process ---------------------------

struct HookLibrary {
  HMODULE module = nullptr;
  HOOKPROC call_wnd_proc = nullptr;
  HOOKPROC get_msg_proc = nullptr;
  Table* table = nullptr;
};

const HookLibrary& Library() {
  static const HookLibrary lib = [] {
    HookLibrary l;
    std::wstring path = common::Module::Path();
    path.erase(path.find_last_of(L"\\/") + 1);
    path += L"HookwireHook.dll";
    l.module = LoadLibraryW(path.c_str());
    if (l.module) {
      l.call_wnd_proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(l.module, "HookwireCallWndProc")));
      l.get_msg_proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(l.module, "HookwireGetMsgProc")));
    }
    l.table = OpenTable();
    return l;
  }();
  return lib;
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

std::mutex g_hooks_lock;
std::map<std::pair<DWORD, DWORD>, Hooks> g_hooks;  // (client thread, target thread)

void AddHookUser(DWORD target_thread) {
  const HookLibrary& lib = Library();
  std::lock_guard<std::mutex> guard(g_hooks_lock);
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
  std::lock_guard<std::mutex> guard(g_hooks_lock);
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

struct Receiver {
  HWND hwnd = nullptr;
  std::map<int, std::pair<HookwireWindow*, LONG>> owners;  // slot -> (window object, generation)
};
thread_local Receiver t_receiver;

LRESULT CALLBACK ReceiverProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != WM_COPYDATA) return DefWindowProcW(h, msg, wp, lp);
  const COPYDATASTRUCT* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
  if (!cds || cds->dwData != kPacketTag || cds->cbData != sizeof(Packet) || !cds->lpData) return FALSE;
  Packet p;
  memcpy(&p, cds->lpData, sizeof p);
  auto it = t_receiver.owners.find(p.slot);
  if (it == t_receiver.owners.end() || it->second.second != p.generation) return FALSE;
  it->second.first->DeliverCaptured(static_cast<UINT>(p.msg), static_cast<LONG_PTR>(p.wParam),
                                    static_cast<LONG_PTR>(p.lParam));
  return TRUE;
}

HWND ReceiverWindow() {
  if (t_receiver.hwnd) return t_receiver.hwnd;
  WNDCLASSW wc{};
  wc.lpfnWndProc = ReceiverProc;
  wc.hInstance = common::Module::instance;
  wc.lpszClassName = kReceiverClass;
  RegisterClassW(&wc);  // fails harmlessly when the class exists
  t_receiver.hwnd = CreateWindowExW(0, kReceiverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    common::Module::instance, nullptr);
  if (!t_receiver.hwnd) common::Raise(common::errInvalidArgument, kSource, L"Cannot create the receiving window");
  return t_receiver.hwnd;
}

void ReleaseReceiverIfUnused() noexcept {
  if (t_receiver.owners.empty() && t_receiver.hwnd) {
    DestroyWindow(t_receiver.hwnd);
    t_receiver.hwnd = nullptr;
  }
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
  HWND receiver = ReceiverWindow();
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
  w.target_thread = static_cast<LONG>(GetWindowThreadProcessId(target, nullptr));
  for (auto& word : w.filter) word = 0;
  LONG generation = InterlockedIncrement(&w.generation);
  t_receiver.owners[slot_] = {owner, generation};
  target_thread_ = GetWindowThreadProcessId(target, nullptr);
  try {
    AddHookUser(target_thread_);
  } catch (...) {
    t_receiver.owners.erase(slot_);
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
  t_receiver.owners.erase(slot_);
  RemoveHookUser(target_thread_);
  ReleaseReceiverIfUnused();
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
