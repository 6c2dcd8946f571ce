// The table through which Hookwire.dll and its hook DLL meet: a named shared
// mapping that lists the watched windows of other threads and programs, with
// their message filters and the window that receives their messages.
#pragma once
#include <windows.h>

namespace hookwire::capture {

// The number changes with the layout: a program still holding the older table keeps its own.
constexpr wchar_t kMappingName[] = L"HookwireCaptureTable.2";
constexpr int kMaxWatchers = 64;
constexpr int kMaxHooks = 64;
// The longest a target waits for one message to be taken by the spy.
constexpr UINT kDeliveryTimeoutMs = 200;
// After a spy missed that time, its target stops waiting on it for this long.
constexpr DWORD kStallMs = 2000;
// WM_COPYDATA tag of a captured message.
constexpr ULONG_PTR kPacketTag = 0x48574D31;

enum WatcherState : LONG { kFree = 0, kClaimed = 1, kActive = 2 };
enum PacketKind : LONG { kSent = 1, kPosted = 2 };

struct Watcher {
  volatile LONG state;          // WatcherState
  volatile LONG target;         // watched window (32-bit significant handle)
  volatile LONG receiver;       // window of the spy that takes the messages
  volatile LONG owner_pid;      // the spy's process
  volatile LONG watch_all;      // every message, filter or not
  volatile LONG stalled_until;  // GetTickCount() before which the target does not wait
  volatile LONG delivered;      // messages handed over (for diagnostics)
  volatile LONG generation;     // bumped at each claim, so packets of an earlier watcher are ignored
  volatile LONG target_thread;  // thread of the watched window
  volatile LONG lost;           // watched messages the target did not hand over (spy too slow)
  volatile LONG sequence;       // number of the last packet sent
  volatile LONG pending;        // that number while its packet is not yet taken; 0 once taken
  volatile LONG reserved;
  volatile ULONG filter[0x10000 / 32];
};

// A pair of hooks a spy set on one thread. A spy that dies without removing them
// leaves them to the target, which takes them off itself (see the hook DLL).
struct HookEntry {
  volatile LONG state;  // WatcherState: kFree, kClaimed, kActive
  volatile LONG target_thread;
  volatile LONG owner_pid;
  volatile LONG reserved;
  volatile LONGLONG call_wnd;  // HHOOK
  volatile LONGLONG get_msg;   // HHOOK
};

struct Table {
  volatile LONG hook_calls;  // every call of a hook procedure in any process (tests read it)
  Watcher watchers[kMaxWatchers];
  HookEntry hooks[kMaxHooks];
};

struct Packet {
  LONG slot;
  LONG generation;
  LONG kind;  // PacketKind
  LONG msg;
  LONG hwnd;
  LONG sequence;  // Watcher::sequence when sent: the receiver takes it through Watcher::pending
  LONGLONG wParam;
  LONGLONG lParam;
};

inline bool Filtered(const Watcher& w, UINT msg) {
  if (w.watch_all) return true;
  return msg < 0x10000 && (w.filter[msg >> 5] & (1UL << (msg & 31))) != 0;
}

inline bool ProcessAlive(DWORD pid) {
  HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!p) return false;
  bool alive = WaitForSingleObject(p, 0) == WAIT_TIMEOUT;
  CloseHandle(p);
  return alive;
}

// Opens (or creates) the table; nullptr when the platform refuses. The section's handle
// goes to *handle, to be closed after the view is unmapped; without one it stays open
// for the life of the process.
inline Table* OpenTable(HANDLE* handle = nullptr) {
  HANDLE m = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Table), kMappingName);
  if (!m) return nullptr;
  void* view = MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Table));
  // The handle stays open for the life of the process: a named section loses its
  // name when its last handle closes, and the other side could no longer find it.
  if (!view) {
    CloseHandle(m);
    return nullptr;
  }
  if (handle) *handle = m;
  return static_cast<Table*>(view);
}

}  // namespace hookwire::capture
