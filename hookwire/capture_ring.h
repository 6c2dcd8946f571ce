// The buffer through which a watched window's program hands its messages to one watcher.
//
// The watcher (Hookwire.dll in the spy) creates an unnamed section, duplicates its handle into
// the target's process and asks the hook DLL there to attach. From then on the hook DLL, which
// has subclassed the window on its own thread, writes one fixed-size record per watched
// message; the watcher reads them on its own clock. One writer (the window's thread), one
// reader (the watcher's thread), no locks, no waits on either side.
//
// The layout is the same for 32-bit and 64-bit programs: only fixed-width fields, handles as
// 32-bit values (which they are in both), no pointers.
//
// Neither side trusts what it reads here beyond the moment: sizes and handles are taken once,
// at attach, from the creator's own values; indices are checked against the capacity before use;
// a record is used only when its stamp, window and sizes hold.
#pragma once
#include <windows.h>

namespace hookwire::ring {

constexpr ULONG kMagic = 0x52574B48;  // "HKWR"
constexpr ULONG kVersion = 5;
constexpr ULONG kCapacity = 8192;  // records; a power of two
constexpr ULONG kRecordSize = 64;
constexpr ULONG kDataSize = 448;
constexpr ULONG kMaxValues = 20;
constexpr ULONG kMaxTextChars = 104;
constexpr ULONG kMaxBytes = 64;

// The message that asks the hook DLL to attach (wParam: the section's handle in the target's
// process) and the one that the watcher sends to have a detach taken at once.
constexpr wchar_t kAttachMessage[] = L"HookwireAttach.3";

enum State : LONG {
  kNew = 0,       // made by the watcher, not yet taken by the target
  kAttached = 1,  // the target writes records
  kDetach = 2,    // the watcher leaves: the target lets go at its next message
  kDetached = 3,  // the target let go
  kRefused = 4,   // the target could not attach (see refusal)
};

enum Refusal : LONG {
  kNoRefusal = 0,
  kBadSection = 1,    // the mapping did not hold a valid header
  kWrongWindow = 2,   // not this thread's window, or gone
  kNoSubclass = 3,    // the platform refused to subclass
  kTooMany = 4,       // too many watchers in this program
};

// Written once by the watcher before the target attaches; the target copies what it needs.
// What each side writes while the capture runs sits on a cache line of its own: the two sides
// run at once on different processors.
struct Header {
  ULONG magic;
  ULONG version;
  ULONG size;          // bytes of the whole section
  ULONG capacity;      // records
  ULONG record_size;
  ULONG target;        // the watched window
  ULONG target_thread;
  ULONG watcher_pid;
  ULONG wake_event;      // event handle in the target's process: set when the buffer passes the mark
  ULONG watcher_process; // SYNCHRONIZE handle of the watcher, in the target's process
  ULONG mark;            // records in the buffer at which the target wakes the watcher
  volatile LONG state;        // State; the watcher sets kDetach, the target the others
  volatile LONG refusal;      // Refusal, when state is kRefused
  volatile LONG target_64bit; // the target says what it is
  volatile LONGLONG attached_time;  // FILETIME (UTC) when the target attached
  // The target's line.
  alignas(64) volatile LONG write_index;  // records written; wraps at 2^32
  volatile LONG lost;    // watched messages the target could not write (buffer full)
  volatile LONG woken;   // the target set the event; the watcher clears it when it drains
  // The watcher's line.
  alignas(64) volatile LONG read_index;  // records taken
  volatile LONG watch_all;   // the watcher's filter: every message
  alignas(64) volatile ULONG filter[0x10000 / 32];
};

enum Flags : USHORT {
  kUnicodeWindow = 1,  // texts were received as UTF-16 (else converted from the program's code page)
};

// One watched message: one cache line, all the target writes for most messages.
struct Record {
  volatile LONG stamp;         // write index + 1 of this record, written last
  volatile LONG result_stamp;  // equal to stamp once result (and data written at return) is there
  ULONG hwnd;
  ULONG msg;
  USHORT origin;    // InSendMessageEx flags on the window's thread
  USHORT flags;     // Flags
  ULONG lost_total; // Header::lost when this record was written
  LONGLONG wparam;
  LONGLONG lparam;
  LONGLONG time;    // FILETIME (UTC), precise
  LONGLONG result;
  USHORT data_kind; // HookwireDataKind; the data itself is in the Data of the same index
  USHORT value_count;
  USHORT text_chars;
  USHORT byte_count;
};
static_assert(sizeof(Record) == 64, "a record is one cache line");

// What a message's parameters pointed to, for the few messages that carry any.
struct Data {
  LONGLONG values[kMaxValues];
  WCHAR text[kMaxTextChars];
  BYTE bytes[kMaxBytes];
};
static_assert(sizeof(Data) <= kDataSize, "data too large");

constexpr ULONG kHeaderSize = (sizeof(Header) + 4095) & ~4095u;
constexpr ULONG kSectionSize = kHeaderSize + kCapacity * (kRecordSize + kDataSize);

inline Record* RecordAt(void* base, ULONG capacity, ULONG index) {
  return reinterpret_cast<Record*>(static_cast<BYTE*>(base) + kHeaderSize +
                                   static_cast<SIZE_T>(index & (capacity - 1)) * kRecordSize);
}

inline Data* DataAt(void* base, ULONG capacity, ULONG index) {
  return reinterpret_cast<Data*>(static_cast<BYTE*>(base) + kHeaderSize + static_cast<SIZE_T>(capacity) * kRecordSize +
                                 static_cast<SIZE_T>(index & (capacity - 1)) * kDataSize);
}

// The clock both sides stamp with: FILETIME (UTC). GetSystemTimePreciseAsFileTime came with
// Windows 8, after our floor: it is looked up in kernel32 at run time, and where it is absent
// GetSystemTimeAsFileTime (the timer's resolution, about 1 to 16 ms) stands in.
using FileTimeClock = void(WINAPI*)(LPFILETIME);

inline FileTimeClock ResolveFileTimeClock(HMODULE kernel) {
  FARPROC precise = kernel ? GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime") : nullptr;
  return precise ? reinterpret_cast<FileTimeClock>(reinterpret_cast<void*>(precise)) : &GetSystemTimeAsFileTime;
}

// Constant-initialised (the hook DLL has no static constructors); two threads that race on the
// first look-up find the same function.
inline FileTimeClock g_file_time_clock = nullptr;

inline LONGLONG FileTimeNow() {
  FileTimeClock clock = __atomic_load_n(&g_file_time_clock, __ATOMIC_ACQUIRE);
  if (!clock) {
    clock = ResolveFileTimeClock(GetModuleHandleW(L"kernel32.dll"));
    __atomic_store_n(&g_file_time_clock, clock, __ATOMIC_RELEASE);
  }
  FILETIME ft;
  clock(&ft);
  return static_cast<LONGLONG>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

inline bool Filtered(const Header* h, UINT msg) {
  if (h->watch_all) return true;
  return msg < 0x10000 && (h->filter[msg >> 5] & (1UL << (msg & 31))) != 0;
}

}  // namespace hookwire::ring
