// HookTarget.exe <caption> <log file>: a program of the tests' own whose window is watched from
// another process. It records every message from WM_USER on (and every one numbered above 0xFFFF,
// and registered ones whose names start with "HookTargetLog.") that its window procedure handles,
// and writes them (decimal message and wParam, one per line) to the log file when asked with
// kDump. Messages from WM_USER + 0x1000 to WM_USER + 0x1FFF are answered with 3 * wParam + 1, the
// others it logs with 7; kNested sends the window kNestedInner first.
// It also reports its window procedure (kQueryProc), subclasses a window of its own and takes that
// off again (kSubclassSelf, kUnsubclassSelf; wParam: the window, 0 for the main one), as programs
// do, or puts back a procedure it was given (kSetProc, lParam). It subclasses its main window the
// common-controls way and takes that off again (kCommonSubclass, kCommonUnsubclass), makes and
// destroys child windows on request (kNewChild, kDestroy, kHighBitChild: a child whose handle has
// bit 31 set, kAnsiChild: an ANSI one; kAnsiIsOriginal says whether its procedure is the one it was
// made with, kAnsiRestore puts that one back; wParam: the window; the program keeps the pointer
// itself, which a watcher of the other bitness could not hand over whole), and counts,
// with a vectored exception handler, every access violation raised in it (kQueryExceptions),
// whether or not something handled it afterwards.
// Layers of its own on any of its windows (wParam: the window, 0 for the main one): a subclass that
// answers WM_NULL itself and passes the rest on (kSwallowNullOn, kSwallowNullOff); a pass-through
// "keeper" that keeps the pointer it replaced, as a program's subclass does: kKeeperOn puts it on
// top, kKeeperOff puts back what it kept (and still keeps it), kKeeperAgain puts the keeper on top
// again as it was, kCallKept calls the kept pointer with kCounted (lParam as wParam), and
// kKeeperOffAndDestroy puts back what it kept and destroys the window at once. kRestoreOriginal
// puts back the class's own procedure, kIsOriginal says whether it is the window's. Each window
// logs kCounted for itself: kCountedCount says how many came, kCountedDisorder 0 when the n-th
// had wParam n for every n (else the first place that did not, plus one), kCountedAt the wParam of
// the one at place lParam (-1 past the end).
#include <windows.h>
#include <commctrl.h>

#include "hook_target_commands.h"

#include <cstdio>
#include <cwchar>
#include <map>
#include <vector>

namespace {
constexpr wchar_t kOwnPrev[] = L"HookTarget.OwnPrev";
constexpr wchar_t kAnsiOriginal[] = L"HookTarget.AnsiOriginal";
constexpr wchar_t kKept[] = L"HookTarget.Kept";
constexpr wchar_t kSwallowPrev[] = L"HookTarget.SwallowPrev";
std::vector<std::pair<UINT, WPARAM>> g_log;
std::map<HWND, std::vector<WPARAM>> g_counted;
std::map<HWND, std::vector<UINT>> g_received;  // (windows of several threads: under g_logs)
SRWLOCK g_logs = SRWLOCK_INIT;

struct Locked {
  Locked() { AcquireSRWLockExclusive(&g_logs); }
  ~Locked() { ReleaseSRWLockExclusive(&g_logs); }
};
const wchar_t* g_log_path = nullptr;
HWND g_main = nullptr;
volatile LONG g_exceptions = 0;

LONG CALLBACK CountException(EXCEPTION_POINTERS* e) {
  if (e && e->ExceptionRecord && e->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION)
    InterlockedIncrement(&g_exceptions);
  return EXCEPTION_CONTINUE_SEARCH;
}

LRESULT CALLBACK CommonSubclass(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
  return DefSubclassProc(h, msg, wp, lp);
}

LRESULT CALLBACK OwnSubclass(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto prev = reinterpret_cast<WNDPROC>(GetPropW(h, kOwnPrev));
  return prev ? CallWindowProcW(prev, h, msg, wp, lp) : DefWindowProcW(h, msg, wp, lp);
}

LRESULT CALLBACK SwallowNull(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NULL) return 0;
  auto prev = reinterpret_cast<WNDPROC>(GetPropW(h, kSwallowPrev));
  return prev ? CallWindowProcW(prev, h, msg, wp, lp) : DefWindowProcW(h, msg, wp, lp);
}

LRESULT CALLBACK Keeper(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto kept = reinterpret_cast<WNDPROC>(GetPropW(h, kKept));
  return kept ? CallWindowProcW(kept, h, msg, wp, lp) : DefWindowProcW(h, msg, wp, lp);
}

WNDPROC g_shared_kept = nullptr;
constexpr wchar_t kTallyPrev[] = L"HookTarget.TallyPrev";
std::map<HWND, LONG> g_tally;

LRESULT CALLBACK Tally(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kCounted) ++g_tally[h];
  return CallWindowProcW(reinterpret_cast<WNDPROC>(GetPropW(h, kTallyPrev)), h, msg, wp, lp);
}

LRESULT CALLBACK SharedKeeper(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return CallWindowProcW(g_shared_kept, h, msg, wp, lp);
}

LRESULT CALLBACK AnsiProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcA(h, msg, wp, lp); }

HWND NewAnsiChild(HWND parent) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = AnsiProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = "HookTargetAnsiWindow";
  RegisterClassA(&wc);  // fails harmlessly once registered
  HWND h = CreateWindowExA(0, wc.lpszClassName, "ansi child", WS_CHILD, 0, 0, 10, 10, parent, nullptr, wc.hInstance,
                           nullptr);
  if (h) SetPropW(h, kAnsiOriginal, reinterpret_cast<HANDLE>(GetWindowLongPtrA(h, GWLP_WNDPROC)));
  return h;
}

HWND NewChild(HWND parent) {
  return CreateWindowExW(0, L"HookTargetWindow", L"child", WS_CHILD, 0, 0, 10, 10, parent, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// A registered message of the tests (the names of registered messages and clipboard formats are
// one table).
bool Logged(UINT msg) {
  if (msg < 0xC000 || msg > 0xFFFF) return false;
  wchar_t name[64] = {};
  return GetClipboardFormatNameW(msg, name, 64) > 0 && std::wcsncmp(name, L"HookTargetLog.", 14) == 0;
}

LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

// The requests about one window's own layers and log; false when `msg` is none of them.
bool Layers(HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT* out) {
  HWND w = wp ? reinterpret_cast<HWND>(wp) : h;
  auto set = [w](LONG_PTR proc) { return SetWindowLongPtrW(w, GWLP_WNDPROC, proc) != 0; };
  switch (msg) {
    case kSwallowNullOn:
      *out = SetPropW(w, kSwallowPrev, reinterpret_cast<HANDLE>(
                                           SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SwallowNull))));
      return true;
    case kSwallowNullOff: *out = set(reinterpret_cast<LONG_PTR>(RemovePropW(w, kSwallowPrev))); return true;
    case kKeeperOn:
      *out = SetPropW(w, kKept, reinterpret_cast<HANDLE>(
                                    SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Keeper))));
      return true;
    case kKeeperOff: *out = set(reinterpret_cast<LONG_PTR>(GetPropW(w, kKept))); return true;
    case kKeeperAgain: *out = set(reinterpret_cast<LONG_PTR>(Keeper)); return true;
    case kTallyOn:
      *out = SetPropW(w, kTallyPrev, reinterpret_cast<HANDLE>(
                                         SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Tally))));
      return true;
    case kTallyCount: *out = g_tally[w]; return true;
    case kSharedKeeperOn:
      g_shared_kept = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SharedKeeper)));
      *out = SetWindowLongPtrW(reinterpret_cast<HWND>(lp), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SharedKeeper)) != 0;
      return true;
    case kCallKept: {
      auto kept = reinterpret_cast<WNDPROC>(GetPropW(w, kKept));
      *out = kept ? CallWindowProcW(kept, w, kCounted, static_cast<WPARAM>(lp), 0) : -1;
      return true;
    }
    case kKeeperOffAndDestroy:
      set(reinterpret_cast<LONG_PTR>(GetPropW(w, kKept)));
      *out = DestroyWindow(w);
      return true;
    case kRestoreOriginal: *out = set(reinterpret_cast<LONG_PTR>(Proc)); return true;
    case kIsOriginal: *out = GetWindowLongPtrW(w, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(Proc); return true;
    case kCountedCount: {
      Locked lock;
      *out = static_cast<LRESULT>(g_counted[w].size());
      return true;
    }
    case kReceivedCount: {
      Locked lock;
      *out = static_cast<LRESULT>(g_received[w].size());
      return true;
    }
    case kReceivedAt: {
      Locked lock;
      const auto& v = g_received[w];
      *out = static_cast<size_t>(lp) < v.size() ? static_cast<LRESULT>(v[static_cast<size_t>(lp)]) : -1;
      return true;
    }
    case kCountedAt: {
      Locked lock;
      const auto& v = g_counted[w];
      *out = static_cast<size_t>(lp) < v.size() ? static_cast<LRESULT>(v[static_cast<size_t>(lp)]) : -1;
      return true;
    }
    case kCountedDisorder: {
      Locked lock;
      const auto& v = g_counted[w];
      *out = 0;
      for (size_t i = 0; i < v.size() && !*out; ++i)
        if (v[i] != i) *out = static_cast<LRESULT>(i + 1);
      return true;
    }
  }
  return false;
}

struct ThreadStart {
  HANDLE made;
  HWND window;
};

DWORD WINAPI ThreadWindowMain(void* p) {
  auto* s = static_cast<ThreadStart*>(p);
  s->window = CreateWindowExW(0, L"HookTargetWindow", L"thread", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  SetEvent(s->made);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}

LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != kReceivedCount && msg != kReceivedAt) {
    Locked lock;
    g_received[h].push_back(msg);
  }
  LRESULT answer = 0;
  if (Layers(h, msg, wp, lp, &answer)) return answer;
  if (msg == kDump) {
    Locked lock;
    FILE* f = _wfopen(g_log_path, L"w");
    if (!f) return -1;
    for (auto& [m, w] : g_log) std::fprintf(f, "%u %llu\n", m, static_cast<unsigned long long>(w));
    std::fclose(f);
    return static_cast<LRESULT>(g_log.size());
  }
  if (msg == kQueryProc) return GetWindowLongPtrW(wp ? reinterpret_cast<HWND>(wp) : h, GWLP_WNDPROC);
  if (msg == kSubclassSelf) {
    HWND w = wp ? reinterpret_cast<HWND>(wp) : h;
    SetPropW(w, kOwnPrev, reinterpret_cast<HANDLE>(
                              SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OwnSubclass))));
    return reinterpret_cast<LRESULT>(OwnSubclass);
  }
  if (msg == kUnsubclassSelf) {
    HWND w = wp ? reinterpret_cast<HWND>(wp) : h;
    return SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RemovePropW(w, kOwnPrev)));
  }
  if (msg == kCommonSubclass) return SetWindowSubclass(h, CommonSubclass, 1, 0);
  if (msg == kCommonUnsubclass) return RemoveWindowSubclass(h, CommonSubclass, 1);
  if (msg == kSetProc) return SetWindowLongPtrW(h, GWLP_WNDPROC, lp);
  if (msg == kNewChild) return reinterpret_cast<LRESULT>(NewChild(h));
  if (msg == kReparent) return reinterpret_cast<LRESULT>(SetParent(h, reinterpret_cast<HWND>(lp)));
  if (msg == kNewMessageOnly)
    return reinterpret_cast<LRESULT>(CreateWindowExW(0, L"HookTargetWindow", L"message-only", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                     nullptr, GetModuleHandleW(nullptr), nullptr));
  if (msg == kNewPopup)
    return reinterpret_cast<LRESULT>(CreateWindowExW(0, L"HookTargetWindow", L"popup", WS_POPUP, 0, 0, 10, 10, nullptr,
                                                     nullptr, GetModuleHandleW(nullptr), nullptr));
  if (msg == kEndThread && h != g_main) ExitThread(0);
  if (msg == kThreadWindow) {
    ThreadStart start{CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
    if (HANDLE t = CreateThread(nullptr, 0, ThreadWindowMain, &start, 0, nullptr)) {
      WaitForSingleObject(start.made, 5000);
      CloseHandle(t);
    }
    CloseHandle(start.made);
    return reinterpret_cast<LRESULT>(start.window);
  }
  if (msg == kAnsiChild) return reinterpret_cast<LRESULT>(NewAnsiChild(h));
  if (msg == kAnsiIsOriginal) {
    HWND w = reinterpret_cast<HWND>(wp);
    return GetWindowLongPtrA(w, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(GetPropW(w, kAnsiOriginal));
  }
  if (msg == kAnsiRestore) {
    HWND w = reinterpret_cast<HWND>(wp);
    return SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GetPropW(w, kAnsiOriginal))) != 0;
  }
  if (msg == kDestroy) return DestroyWindow(reinterpret_cast<HWND>(wp));
  if (msg == kQueryExceptions) return g_exceptions;
  if (msg == kHighBitChild) {
    // A handle's upper half counts how often its slot was used: made and destroyed again and
    // again, a child's handle reaches bit 31 as a long-running program's windows do. Menus take
    // their handles from the same table and cost less to make; the child takes the slot last.
    for (int i = 0; i < 0x30000; ++i) {
      HMENU m = CreateMenu();
      if (!m) break;
      const bool high = reinterpret_cast<ULONG_PTR>(m) & 0x80000000u;
      DestroyMenu(m);
      if (!high) continue;
      if (HWND c = NewChild(h)) {
        if (reinterpret_cast<ULONG_PTR>(c) & 0x80000000u) return reinterpret_cast<LRESULT>(c);
        DestroyWindow(c);
      }
      break;
    }
    for (int i = 0; i < 0x30000; ++i) {
      HWND c = NewChild(h);
      if (!c) return 0;
      if (reinterpret_cast<ULONG_PTR>(c) & 0x80000000u) return reinterpret_cast<LRESULT>(c);
      DestroyWindow(c);
    }
    return 0;
  }
  if ((msg >= WM_USER && msg < WM_USER + 0x7000) || (msg > 0xFFFF && msg < 0x80000000u) || Logged(msg)) {
    {
      Locked lock;
      g_log.emplace_back(msg, wp);
      if (msg == kCounted) g_counted[h].push_back(wp);
    }
    if (msg == kNested) SendMessageW(h, kNestedInner, wp, 0);
    if (msg >= WM_USER + 0x1000 && msg < WM_USER + 0x2000) return static_cast<LRESULT>(3 * wp + 1);
    return 7;  // the target's own answer
  }
  if (msg == WM_DESTROY && h == g_main) PostQuitMessage(0);
  return DefWindowProcW(h, msg, wp, lp);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  g_log_path = argv[2];
  g_log.reserve(40000);
  AddVectoredExceptionHandler(1, CountException);
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"HookTargetWindow";
  RegisterClassW(&wc);
  g_main = CreateWindowExW(0, wc.lpszClassName, argv[1], WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
  if (!g_main) return 3;
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}
