// The buffer through which a watched window's program hands its messages to one watcher.
//
// The watcher (Hookwire.dll in the spy) makes an unnamed section, two events (the target's
// wake-up call and the watcher's own "leave") and a per-session key, and writes what the target
// needs into a pipe of its own (Request). The attach message carries only the watcher's process
// id and the pipe's handle in the watcher: the hook DLL in the target takes everything else from
// the watcher itself, so nothing is placed in the target before it asks. From then on the hook
// DLL, which has subclassed the window on its own thread, writes one fixed-size record per
// watched message; the watcher reads them on its own clock. One writer (the window's thread),
// one reader (the watcher's thread), no locks, no waits on either side.
//
// The layout is the same for 32-bit and 64-bit programs: only fixed-width fields, handles as
// 32-bit values (which they are in both), no pointers.
//
// Any program that can duplicate the target's handles can write this memory, so neither side
// takes anything from it on trust: sizes, handles and the key come from the request (the target
// keeps its own copy), indices are checked against the capacity before use, and every record,
// the target's state and its loss count carry a tag made with the session's key (which is never
// in shared memory): what does not carry the right tag is not the target's.
#pragma once
#include <windows.h>

namespace hookwire::ring {

constexpr ULONG kMagic = 0x52574B48;  // "HKWR"
constexpr ULONG kRequestMagic = 0x51574B48;  // "HKWQ"
constexpr ULONG kVersion = 7;
constexpr ULONG kCapacity = 8192;  // records; a power of two
constexpr ULONG kMinCapacity = 64;
constexpr ULONG kMaxCapacity = 1u << 16;  // a view of at most 32 MiB in the target
constexpr ULONG kRecordSize = 64;
constexpr ULONG kDataSize = 448;
constexpr ULONG kMaxValues = 20;
constexpr ULONG kMaxTextChars = 104;
// The class of the message-only window a family's session keeps on its thread in the target.
constexpr wchar_t kOwnWindowClass[] = L"HookwireNudge.1";
constexpr ULONG kMaxBytes = 64;

// The message that asks the hook DLL to attach (wParam: the watcher's process id; lParam: the
// handle, in the watcher's process, of the pipe that holds the Request).
constexpr wchar_t kAttachMessage[] = L"HookwireAttach.5";

enum State : LONG {
  kNew = 0,       // made by the watcher, not yet taken by the target
  kAttached = 1,  // the target writes records
  kEnded = 3,     // the target let go (the reason says why)
  kRefused = 4,   // the target could not attach (the reason is a Refusal)
};

enum Refusal : LONG {
  kNoRefusal = 0,
  kBadSection = 1,    // the section is not one this version can use
  kWrongWindow = 2,   // not this thread's window, or gone
  kNoSubclass = 3,    // the platform refused to subclass
  kTooMany = 4,       // too many watchers of this window
  kTooManyWindows = 5,  // too many watched windows in this program
};

// Which windows one buffer carries: the windows of the buffer's thread that belong to the family.
enum Scope : ULONG {
  kScopeWindow = 0,    // the window alone
  kScopeChildren = 1,  // the root window and its descendants
  kScopeThread = 2,    // every window of the thread
  kScopeProcess = 3,   // every window of the program (one buffer per thread)
};

enum Options : ULONG {
  kTakeNew = 1,      // windows of the family created later are taken in as they are made
  kMessageOnly = 2,  // message-only windows belong to a thread's or program's family too
};

// Why the target let go (HookwireEndReason in the type library, but for kEndWatcherLeft).
enum EndReason : LONG {
  kEndNone = 0,
  kEndWindowDestroyed = 1,
  kEndProgramEnded = 2,  // seen by the watcher only
  kEndCutOut = 3,        // the program put back a window procedure from before the capture
  kEndWatcherLeft = 16,  // the watcher asked (or is gone)
};

// What the target needs, from the watcher, through the pipe. The target reads it once into its
// own memory and uses only that copy.
struct Request {
  ULONG magic;          // kRequestMagic
  ULONG version;
  ULONG section;        // handles in the watcher's process
  ULONG wake_event;     // the target sets it when the buffer passes the mark
  ULONG detach_event;   // the watcher sets it to end the capture; only the watcher can
  ULONG target;         // the watched window (the low 32 bits of its handle)
  ULONG target_thread;
  ULONG capacity;       // records
  ULONG mark;           // records in the buffer at which the target wakes the watcher
  ULONG scope;          // Scope
  ULONG options;        // Options
  ULONG root;           // the family's root window (children scope; it may be on another thread)
  ULONGLONG key[2];     // the session's key: never in shared memory
};

// The shared header. The watcher writes magic and version before the attach; the target writes
// its status (State | reason << 8) with the status' tag. What each side writes while the capture
// runs sits on a cache line of its own: the two sides run at once on different processors.
struct Header {
  ULONG magic;
  ULONG version;
  volatile LONG status;        // State | reason << 8; the target's only
  volatile LONG status_tag;    // StatusTag(key, status)
  volatile LONG target_64bit;  // the target says what it is
  volatile LONG detach_hint;   // the watcher set its leave event: the target looks at it at once
  volatile LONGLONG attached_time;  // FILETIME (UTC) when the target attached
  // The target's line.
  alignas(64) volatile LONG write_index;  // records written; wraps at 2^32
  volatile LONG lost;      // watched messages the target could not write (buffer full)
  volatile LONG lost_tag;  // LostTag(key, lost)
  volatile LONG woken;     // the target set the event; the watcher clears it when it drains
  // The watcher's line.
  alignas(64) volatile LONG read_index;  // records taken
  volatile LONG watch_all;   // the watcher's filter: every message
  alignas(64) volatile ULONG filter[0x10000 / 32];
};

enum Flags : USHORT {
  kUnicodeWindow = 1,  // texts were received as UTF-16 (else converted from the program's code page)
  // Not a message: a window joined the buffer's family (the data's text is its class, values are the
  // parent and the owner), or left it (it was destroyed, or taken out: the record's result is the
  // EndReason). Only written for a family wider than one window.
  kWindowJoined = 2,
  kWindowLeft = 4,
};

// One watched message: one cache line, all the target writes for most messages.
struct Record {
  volatile LONG stamp;         // RecordTag of the record's fields for its index, written last
  volatile LONG result_stamp;  // ResultTag once result (and data written at return) is there
  ULONG hwnd;
  ULONG msg;
  USHORT origin;    // InSendMessageEx flags on the window's thread
  USHORT flags;     // Flags
  ULONG lost_total; // the target's loss count when this record was written
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

// Bytes a section must hold for `capacity` records and their data blocks.
constexpr ULONGLONG SectionBytes(ULONG capacity) {
  return static_cast<ULONGLONG>(kHeaderSize) + static_cast<ULONGLONG>(capacity) * (kRecordSize + kDataSize);
}

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

// --- tags ------------------------------------------------------------------------------------
// A keyed mix, not a cipher: enough that a program without the key cannot make a record the
// reader takes, and cheap enough for every message (multiplications and shifts only: the hook
// DLL has no runtime to call).

struct Key {
  ULONGLONG k0, k1;
};

inline ULONGLONG TagStep(ULONGLONG h, ULONGLONG v, ULONGLONG k) {
  h ^= v;
  h *= 0x9E3779B97F4A7C15ull;
  h ^= h >> 31;
  h += k;
  h = (h << 27) | (h >> 37);
  h *= 0xBF58476D1CE4E5B9ull;
  return h;
}

inline LONG TagEnd(ULONGLONG h) {
  h ^= h >> 29;
  const LONG t = static_cast<LONG>(static_cast<ULONG>(h ^ (h >> 32)));
  return t ? t : 1;  // 0 means "being written"
}

// Covers what is written when the message enters the window; `index1` is the write index + 1.
inline LONG RecordTag(const Key& k, ULONG index1, const Record& r) {
  ULONGLONG h = k.k0 ^ (static_cast<ULONGLONG>(index1) << 1);
  h = TagStep(h, (static_cast<ULONGLONG>(r.msg) << 32) | r.hwnd, k.k1);
  h = TagStep(h, static_cast<ULONGLONG>(r.wparam), k.k0);
  h = TagStep(h, static_cast<ULONGLONG>(r.lparam), k.k1);
  h = TagStep(h, static_cast<ULONGLONG>(r.time), k.k0);
  h = TagStep(h, (static_cast<ULONGLONG>(r.lost_total) << 32) | (static_cast<ULONG>(r.origin) << 16) | r.flags, k.k1);
  return TagEnd(h);
}

// Covers what is there once the window answered: the result and the data's counts, and, for a
// family's window that joined, its class (`text`, r.text_chars of it).
inline LONG ResultTag(const Key& k, ULONG index1, const Record& r, const WCHAR* text = nullptr) {
  ULONGLONG h = k.k1 ^ (static_cast<ULONGLONG>(index1) << 1 | 1);
  h = TagStep(h, static_cast<ULONGLONG>(r.result), k.k0);
  h = TagStep(h,
              static_cast<ULONGLONG>(r.data_kind) | static_cast<ULONGLONG>(r.value_count) << 16 |
                  static_cast<ULONGLONG>(r.text_chars) << 32 | static_cast<ULONGLONG>(r.byte_count) << 48,
              k.k1);
  if (text) {
    const ULONG chars = r.text_chars < kMaxTextChars ? r.text_chars : kMaxTextChars;
    for (ULONG i = 0; i < chars; i += 4) {
      ULONGLONG v = 0;
      for (ULONG j = 0; j < 4 && i + j < chars; ++j) v |= static_cast<ULONGLONG>(text[i + j]) << (16 * j);
      h = TagStep(h, v, (i & 4) ? k.k0 : k.k1);
    }
  }
  return TagEnd(h);
}

inline LONG StatusTag(const Key& k, LONG status) {
  return TagEnd(TagStep(TagStep(k.k0 ^ 0x5354, static_cast<ULONG>(status), k.k1), k.k0, k.k1));
}

inline LONG LostTag(const Key& k, LONG lost) {
  return TagEnd(TagStep(TagStep(k.k1 ^ 0x4C53, static_cast<ULONG>(lost), k.k0), k.k1, k.k0));
}

inline LONG Status(State state, LONG reason) { return state | (reason << 8); }

}  // namespace hookwire::ring
