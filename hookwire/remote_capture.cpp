// rand_s, for the session's key.
#define _CRT_RAND_S
#include <stdlib.h>

#include "remote_capture.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "attach.h"
#include "capture_ring.h"
#include "com_server.h"
#include "same_handle.h"
#include "hookwire_window.h"
#include "runtime_error.h"
#include "unique_handles.h"

namespace hookwire {

using namespace ring;

// One watcher's end of a capture: the mapped buffer, the target's wake-up event, the event that
// ends the capture (only this side holds it with the right to set it), the session's key and
// where the reading stands. Owned by its RemoteCapture, or, when that goes while a delivery from this
// session is still running, by the delivery, which frees it on its way out.
struct CaptureSession {
  HookwireWindow* owner = nullptr;
  RemoteCapture* group = nullptr;
  HWND target = nullptr;   // the window the attach went to
  ULONG scope = 0;         // ring::Scope
  bool essential = true;   // its end is the capture's end (else its thread just leaves the family)
  HANDLE thread = nullptr;  // the family's thread, for a thread's family (to learn that it ended)
  HANDLE section = nullptr;
  HANDLE wake = nullptr;
  HANDLE detach = nullptr;
  HANDLE process = nullptr;  // the target's, to learn that it ended
  Key key{};
  HANDLE wait = nullptr;  // the thread pool's wait on `wake`
  Header* view = nullptr;
  ULONG capacity = 0;
  LONG read_index = 0;
  LONG lost_placed = 0;  // losses placed before a delivered message
  LONG lost_known = 0;   // losses the target had counted when its buffer was last found empty
  LONG stuck_index = -1;  // a record that was not the target's, and for how many drains
  int stuck_drains = 0;
  LONG skipped = 0;       // such records stepped over: counted as lost
  int drains = 0;
  LONG end_reason = 0;    // the capture ended on its own (HookwireEndReason), once known
  int end_drains = 0;
  bool ended = false;
  // The filter as this side published it: put back at every drain should anyone have changed it.
  LONG watch_all = 0;
  ULONG filter[0x10000 / 32] = {};
  LONGLONG start_time = 0;
  bool target64 = false;
  bool closed = false;
  int delivering = 0;
  struct Receiver* receiver = nullptr;
};

namespace {

constexpr const wchar_t* kSource = L"Hookwire.HookwireWindow";
constexpr wchar_t kReceiverClass[] = L"HookwireReceiver";
constexpr UINT kDrainMessage = WM_APP + 1;
constexpr UINT_PTR kDrainTimer = 1;
constexpr UINT kDrainIntervalMs = 10;
// A record whose window has not answered yet is held back this long for its answer.
constexpr LONGLONG kAnswerWait = 100 * 10000;  // 100 ms in FILETIME units
// The most records one drain hands over before it lets the client's thread breathe.
constexpr int kMaxPerDrain = 4096;
// Drains (of 10 ms or more) for which a record that is not the target's is waited on.
constexpr int kStuckDrains = 50;
// Every this many drains the watcher looks whether the target's program and window still exist.
constexpr int kLivenessDrains = 25;
constexpr UINT kAttachTimeoutMs = 5000;
constexpr DWORD kAgentTimeoutMs = 30000;

// --- paths and bitness -------------------------------------------------------------------

std::wstring BesideUs(const wchar_t* name) {
  std::wstring path = common::Module::Path();
  path.erase(path.find_last_of(L"\\/") + 1);
  return path + name;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SystemIs64Bit() {
  if (sizeof(void*) == 8) return true;
  BOOL wow = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

// Whether the process is a 64-bit one; false when it cannot be told.
bool ProcessIs64Bit(HANDLE process, bool* known) {
  *known = false;
  if (!SystemIs64Bit()) {
    *known = true;
    return false;
  }
  BOOL wow = FALSE;
  if (!IsWow64Process(process, &wow)) return false;
  *known = true;
  return !wow;
}

// --- the hook DLL of this build's bitness, loaded on first use ------------------------------

SRWLOCK g_library_lock = SRWLOCK_INIT;
HMODULE g_hook = nullptr;

HMODULE HookLibrary() {
  AcquireSRWLockExclusive(&g_library_lock);
  if (!g_hook) g_hook = LoadLibraryW(BesideUs(HookDllName(sizeof(void*) == 8)).c_str());
  HMODULE h = g_hook;
  ReleaseSRWLockExclusive(&g_library_lock);
  return h;
}

}  // namespace

// --- the receiving window of the client's thread ------------------------------------------

// One per client thread that watches windows of other threads: drains their buffers on a timer
// and when a target wakes it.
struct Receiver {
  HWND hwnd = nullptr;
  std::vector<CaptureSession*> sessions;
  volatile LONG posted = 0;
  int draining = 0;              // a drain of this receiver is on the stack
  bool release_pending = false;  // the last session went during that drain
};

namespace {

SRWLOCK g_receivers_lock = SRWLOCK_INIT;
std::map<DWORD, Receiver*> g_receivers;  // client thread -> its receiver
volatile LONG g_live_sessions = 0;

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

void FreeSession(CaptureSession* s) noexcept {
  if (s->wait) UnregisterWaitEx(s->wait, INVALID_HANDLE_VALUE);  // waits for a running callback
  if (s->view) UnmapViewOfFile(s->view);
  if (s->section) CloseHandle(s->section);
  if (s->wake) CloseHandle(s->wake);
  if (s->detach) CloseHandle(s->detach);
  if (s->process) CloseHandle(s->process);
  if (s->thread) CloseHandle(s->thread);
  SecureZeroMemory(&s->key, sizeof s->key);
  delete s;
  InterlockedDecrement(&g_live_sessions);
}

// HookwireEndReason for what the target said when it let go.
LONG PublicReason(LONG target_reason) {
  switch (target_reason) {
    case kEndWindowDestroyed: return kEndWindowDestroyed;
    case kEndCutOut: return kEndCutOut;
    default: return 4;  // hkEndLetGo: the program let go for a reason of its own
  }
}

constexpr LONG kEndThreadEnded = 5;  // hkEndThreadEnded: a thread's family lost its thread


// Whether the capture ended on its own: the target said so (with its tag), or its program or
// window is gone. 0 while it runs.
LONG EndSeen(CaptureSession* s) noexcept {
  const LONG status = VerifiedStatus(s->view, s->key);
  if (status >= 0 && (status & 0xFF) == kEnded) return PublicReason(status >> 8);
  if (++s->drains % kLivenessDrains != 0) return 0;
  if (s->process && WaitForSingleObject(s->process, 0) == WAIT_OBJECT_0) return kEndProgramEnded;
  // A family lives as long as its root (a window with its children), its thread or its program.
  if ((s->scope == kScopeWindow || (s->scope == kScopeChildren && s->essential)) && !IsWindow(s->target))
    return kEndWindowDestroyed;
  if (s->thread && WaitForSingleObject(s->thread, 0) == WAIT_OBJECT_0) return kEndThreadEnded;
  if (s->essential && s->group && (s->drains / kLivenessDrains) % 4 == 0) s->group->LookForNewThreads();
  return 0;
}

// Hands the session's waiting records to the sink, in the target's order; true when it stopped
// with records still waiting (the client's thread gets its turn, then the drain goes on).
//
// A record is the target's when its stamp is the tag of its fields for its place, made with the
// session's key; its result is known when the result's tag holds as well, read before and after
// the copy. Anything else is not handed on: it is waited on for a while (the target may be
// about to write that place), then stepped over and counted as lost.
bool Drain(CaptureSession* s) noexcept {
  if (s->closed || !s->view || s->ended) return false;
  bool more = false;
  ++s->delivering;
  Header* h = s->view;
  InterlockedExchange(&h->woken, 0);
  // Seen before the records are read: everything the target wrote before it let go is delivered.
  const LONG end = EndSeen(s);
  bool empty = false;
  // What this side owns in the header is put back as it was: the read index the target checks
  // for room, and the filter.
  InterlockedExchange(&h->read_index, s->read_index);
  if (h->watch_all != s->watch_all) InterlockedExchange(&h->watch_all, s->watch_all);
  if (std::memcmp(const_cast<ULONG*>(h->filter), s->filter, sizeof s->filter) != 0)
    std::memcpy(const_cast<ULONG*>(h->filter), s->filter, sizeof s->filter);
  for (int count = 0; !s->closed; ++count) {
    if (count == kMaxPerDrain) {
      more = true;
      break;
    }
    // Only records the target says it wrote; an index behind ours is never gone back to (what
    // was read there was delivered), one far ahead only means more places to look at.
    const LONG written = h->write_index;
    if (written - s->read_index <= 0) {
      // Nothing more written: losses since the last record are known now (when the target's tag
      // says the count is its own), and placed before the next record when one comes.
      const LONG lost = h->lost;
      const LONG tag = h->lost_tag;
      if (lost == h->lost && tag == LostTag(s->key, lost) && lost > s->lost_known) s->lost_known = lost;
      empty = true;
      break;
    }
    const ULONG index1 = static_cast<ULONG>(s->read_index) + 1;
    Record* r = RecordAt(h, s->capacity, static_cast<ULONG>(s->read_index));
    const LONG result_stamp = __atomic_load_n(&r->result_stamp, __ATOMIC_ACQUIRE);
    const LONG stamp = __atomic_load_n(&r->stamp, __ATOMIC_ACQUIRE);
    MessageDetails d;
    std::memcpy(&d.record, const_cast<Record*>(r), sizeof d.record);
    std::memcpy(&d.data, DataAt(h, s->capacity, static_cast<ULONG>(s->read_index)), sizeof d.data);
    const bool same = __atomic_load_n(&r->stamp, __ATOMIC_ACQUIRE) == stamp &&
                      __atomic_load_n(&r->result_stamp, __ATOMIC_ACQUIRE) == result_stamp;
    if (!same || stamp != RecordTag(s->key, index1, d.record)) {
      if (s->stuck_index != s->read_index) {
        s->stuck_index = s->read_index;
        s->stuck_drains = 0;
      }
      if (++s->stuck_drains < kStuckDrains) break;
      ++s->skipped;
      ++s->read_index;
      InterlockedExchange(&h->read_index, s->read_index);
      continue;
    }
    // (A window's joining carries its class, which the tag covers too.)
    const bool answered =
        result_stamp == ResultTag(s->key, index1, d.record, (d.record.flags & kWindowJoined) ? d.data.text : nullptr);
    if (!answered) {
      const LONGLONG age = FileTimeNow() - d.record.time;
      if (age >= 0 && age < kAnswerWait && !end) break;  // the window is still at it: its answer is near
    }
    if ((++s->read_index & 255) == 0) InterlockedExchange(&h->read_index, s->read_index);
    if (d.record.flags & (kWindowJoined | kWindowLeft)) {  // a family's window came or went: no message
      if (!s->group) continue;
      if (d.record.flags & kWindowLeft) s->group->Left(d.record.hwnd);
      else s->group->Joined(d.record.hwnd, d.data.text, answered ? std::min<int>(d.record.text_chars, kMaxTextChars) : 0);
      continue;
    }
    Record& rec = d.record;
    rec.value_count = std::min<USHORT>(rec.value_count, static_cast<USHORT>(kMaxValues));
    rec.text_chars = std::min<USHORT>(rec.text_chars, static_cast<USHORT>(kMaxTextChars));
    rec.byte_count = std::min<USHORT>(rec.byte_count, static_cast<USHORT>(kMaxBytes));
    if (!rec.data_kind) rec.value_count = rec.text_chars = rec.byte_count = 0;
    d.result_known = answered;
    if (!answered) rec.result = 0;
    const LONG total = static_cast<LONG>(rec.lost_total);
    d.lost_before = total > s->lost_placed ? total - s->lost_placed : 0;
    if (total > s->lost_placed) s->lost_placed = total;
    d.start_time = s->start_time;
    d.target64 = s->target64;
    d.window_class = s->group ? s->group->ClassOf(rec.hwnd) : nullptr;
    if (s->group && !d.window_class) {
      // Its joining was among the messages lost (or stepped over): the window is in the family all
      // the same, and its class is asked of the platform.
      s->group->Joined(rec.hwnd, L"", 0);
      d.window_class = s->group->ClassOf(rec.hwnd);
    }
    // The sink may stop this capture or release the window object: nothing of the object is
    // touched afterwards, and the session itself outlives the call (see `delivering`).
    s->owner->DeliverCaptured(d);
  }
  if (!s->closed) InterlockedExchange(&h->read_index, s->read_index);
  // The end is told once every record written before it is handed on (or, when something
  // keeps the reader from the end of the buffer, after a while anyway).
  if (!s->closed && end && (empty || ++s->end_drains >= kStuckDrains)) {
    s->ended = true;
    s->end_reason = end;
    // (A thread of a wider family that ended, or whose buffer the program let go of, just leaves it;
    // the program is told to give up that buffer now, not when the whole family is let go of.)
    if (s->essential) {
      s->owner->CaptureEnded(end);  // ends this capture: `closed` is set
    } else {
      InterlockedExchange(&h->detach_hint, 1);
      SetEvent(s->detach);
    }
    more = false;
  }
  if (--s->delivering == 0 && s->closed) {
    FreeSession(s);
    return false;
  }
  return more;
}

void ReleaseReceiverIfUnused() noexcept;

void DrainAll(Receiver* r) noexcept {
  InterlockedExchange(&r->posted, 0);
  // A copy: sessions may end while their messages are delivered.
  std::vector<CaptureSession*> sessions;
  try {
    sessions = r->sessions;
  } catch (...) {
    return;
  }
  bool more = false;
  ++r->draining;
  for (CaptureSession* s : sessions)
    if (std::find(r->sessions.begin(), r->sessions.end(), s) != r->sessions.end()) more |= Drain(s);
  --r->draining;
  if (r->release_pending) {  // a sink ended the last capture of this thread: the receiver goes now
    r->release_pending = false;
    if (r->sessions.empty()) {
      ReleaseReceiverIfUnused();
      return;
    }
  }
  if (more && InterlockedExchange(&r->posted, 1) == 0) PostMessageW(r->hwnd, kDrainMessage, 0, 0);
}

LRESULT CALLBACK ReceiverProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kDrainMessage || (msg == WM_TIMER && wp == kDrainTimer)) {
    if (auto* r = reinterpret_cast<Receiver*>(GetWindowLongPtrW(h, GWLP_USERDATA))) DrainAll(r);
    return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

// The thread pool's call when a target woke us: one posted message until the next drain.
void CALLBACK Woken(void* context, BOOLEAN) {
  auto* s = static_cast<CaptureSession*>(context);
  Receiver* r = s->receiver;
  if (InterlockedExchange(&r->posted, 1) == 0) PostMessageW(r->hwnd, kDrainMessage, 0, 0);
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
  if (!r || !r->sessions.empty()) return;
  if (r->draining) {  // still in use up the stack: released when that drain returns
    r->release_pending = true;
    return;
  }
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

// --- attaching ---------------------------------------------------------------------------

ULONG HandleValue(HANDLE h) { return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(h)); }

// The session's key: from the platform's random numbers.
Key NewKey() {
  unsigned int v[4] = {};
  for (unsigned int& x : v)
    if (rand_s(&x) != 0) x = static_cast<unsigned int>(GetTickCount() ^ reinterpret_cast<ULONG_PTR>(&x)) * 2654435761u;
  return Key{(static_cast<ULONGLONG>(v[0]) << 32) | v[1], (static_cast<ULONGLONG>(v[2]) << 32) | v[3]};
}

// Runs the companion of the other bitness, which sets the hook there.
AttachOutcome AttachThroughAgent(bool target64, HWND target, ULONG request_pipe) {
  wchar_t args[64];
  std::swprintf(args, 64, L" %lX %lX %lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(target)),
                static_cast<unsigned long>(GetCurrentProcessId()), static_cast<unsigned long>(request_pipe));
  std::wstring cmd = L"\"" + BesideUs(AgentName(target64)) + L"\"" + args;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
    return kAttachNoHook;
  CloseHandle(pi.hThread);
  DWORD code = 4;
  // Messages sent to this thread meanwhile (the target's, say) are answered while we wait.
  const DWORD end = GetTickCount() + kAgentTimeoutMs;
  for (;;) {
    DWORD left = end - GetTickCount();
    if (static_cast<LONG>(left) <= 0) break;
    DWORD w = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, left, QS_SENDMESSAGE);
    if (w == WAIT_OBJECT_0) {
      GetExitCodeProcess(pi.hProcess, &code);
      break;
    }
    if (w != WAIT_OBJECT_0 + 1) break;
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // answers sent messages
  }
  if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 4);
  CloseHandle(pi.hProcess);
  return code == 0 ? kAttachSent : code == 3 ? kAttachNoHook : kAttachNoAnswer;
}

const wchar_t* RefusalText(LONG why) {
  switch (why) {
    case kWrongWindow: return L"The window is gone";
    case kNoSubclass: return L"The window's program refused to let its window be watched";
    case kTooMany: return L"Too many watchers on this window";
    case kTooManyWindows: return L"Too many watched windows of this program";
    default: return L"The window's program did not take the capture";
  }
}

}  // namespace

bool RemoteCapture::Available(HWND target) noexcept {
  DWORD pid = 0;
  if (!target || !GetWindowThreadProcessId(target, &pid) || common::SameHandle(target, GetDesktopWindow())) return false;
  bool target64 = sizeof(void*) == 8, known = true;
  if (pid != GetCurrentProcessId()) {
    common::unique_handle_close process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.get()) return false;
    target64 = ProcessIs64Bit(process.get(), &known);
    if (!known) return false;
  }
  try {
    if (target64 == (sizeof(void*) == 8)) return FileExists(BesideUs(HookDllName(target64)));
    return FileExists(BesideUs(HookDllName(target64))) && FileExists(BesideUs(AgentName(target64)));
  } catch (...) {
    return false;
  }
}

namespace {

struct FamilyWalk {
  DWORD pid;
  bool message_only;
  std::map<DWORD, HWND>* threads;
};

// Notes the window's thread (its first window found) when it is the program's. A family's own
// message-only window, which the program holds for another watcher, is nobody's to watch.
void NoteThread(HWND h, const FamilyWalk& f) {
  DWORD pid = 0;
  const DWORD thread = GetWindowThreadProcessId(h, &pid);
  if (!thread || pid != f.pid || f.threads->count(thread)) return;
  wchar_t cls[32] = {};
  if (f.message_only && GetClassNameW(h, cls, 32) && std::wcscmp(cls, kOwnWindowClass) == 0) return;
  f.threads->emplace(thread, h);
}

BOOL CALLBACK NoteDescendant(HWND h, LPARAM lp) {
  NoteThread(h, *reinterpret_cast<FamilyWalk*>(lp));
  return TRUE;
}

BOOL CALLBACK NoteTopLevel(HWND h, LPARAM lp) {
  NoteThread(h, *reinterpret_cast<FamilyWalk*>(lp));
  EnumChildWindows(h, NoteDescendant, lp);
  return TRUE;
}

}  // namespace

// The threads of the family, each with one of its windows there (the watched window for its own).
std::map<DWORD, HWND> RemoteCapture::FamilyThreads() const {
  std::map<DWORD, HWND> threads;
  threads.emplace(GetWindowThreadProcessId(target_, nullptr), target_);
  FamilyWalk walk{pid_, (options_ & kMessageOnly) != 0, &threads};
  if (scope_ == kScopeChildren) {
    EnumChildWindows(target_, NoteDescendant, reinterpret_cast<LPARAM>(&walk));
  } else if (scope_ == kScopeProcess) {
    EnumWindows(NoteTopLevel, reinterpret_cast<LPARAM>(&walk));
    if (walk.message_only)
      for (HWND h = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); h;
           h = FindWindowExW(HWND_MESSAGE, h, nullptr, nullptr))
        NoteTopLevel(h, reinterpret_cast<LPARAM>(&walk));
  }
  return threads;
}

RemoteCapture::RemoteCapture(HookwireWindow* owner, HWND target, ULONG scope, ULONG options)
    : owner_(owner), target_(target), scope_(scope <= kScopeProcess ? scope : kScopeWindow),
      options_(scope_ == kScopeWindow ? 0 : options) {
  if (!GetWindowThreadProcessId(target, &pid_)) common::Raise(common::errInvalidArgument, kSource, L"The window is gone");
  common::unique_handle_close process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid_));
  bool known = false;
  if (process.get()) target64_ = ProcessIs64Bit(process.get(), &known);
  if (!process.get() || !known)
    common::Raise(common::errInvalidArgument, kSource, L"The window's program cannot be opened for watching");
  threads_[GetWindowThreadProcessId(target, nullptr)] = true;
  sessions_.push_back(Open(target, true));  // the watched window's refusal is the client's answer
  TakeInThreads();
}

void RemoteCapture::LookForNewThreads() noexcept {
  if (options_ & kTakeNew) TakeInThreads();
}

// The family's threads not asked for yet are taken in (a thread that refuses is not asked again).
void RemoteCapture::TakeInThreads() noexcept {
  if (scope_ != kScopeChildren && scope_ != kScopeProcess) return;
  if (sessions_.empty() || sessions_.front()->closed) return;
  try {
    for (const auto& [thread, window] : FamilyThreads()) {
      if (threads_.count(thread)) continue;
      threads_[thread] = false;
      try {
        CaptureSession* s = Open(window, false);
        sessions_.push_back(s);
        threads_[thread] = true;
        SetFilter(watch_all_, &filter_);
      } catch (...) {
      }
    }
  } catch (...) {
  }
}

CaptureSession* RemoteCapture::Open(HWND window, bool essential) {
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  if (!thread) common::Raise(common::errInvalidArgument, kSource, L"The window is gone");
  common::unique_handle_close process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid_));
  if (!process.get())
    common::Raise(common::errInvalidArgument, kSource, L"The window's program cannot be opened for watching");
  const bool target64 = target64_;

  // The buffer: unnamed, and nothing of it is handed to the target before it asks: the target
  // takes the section and the events from this process, with what the request in the pipe says.
  common::unique_handle_close section(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionSize, nullptr));
  common::unique_handle_close wake(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  // Manual reset: once set, the target sees it however it looks (its pool's wait, its own check).
  common::unique_handle_close detach(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE pipe_read = nullptr, pipe_write = nullptr;
  if (!CreatePipe(&pipe_read, &pipe_write, nullptr, 4096)) pipe_read = pipe_write = nullptr;
  common::unique_handle_close request_in(pipe_read), request_out(pipe_write);
  void* view = section.get() ? MapViewOfFile(section.get(), FILE_MAP_ALL_ACCESS, 0, 0, kSectionSize) : nullptr;
  if (!view || !wake.get() || !detach.get() || !pipe_read) {
    if (view) UnmapViewOfFile(view);
    common::Raise(common::errInvalidArgument, kSource, L"Out of memory");
  }
  auto* h = static_cast<Header*>(view);
  h->magic = kMagic;
  h->version = kVersion;
  h->status = kNew;
  Request q{};
  q.magic = kRequestMagic;
  q.version = kVersion;
  q.section = HandleValue(section.get());
  q.wake_event = HandleValue(wake.get());
  q.detach_event = HandleValue(detach.get());
  q.target = HandleValue(window);
  q.target_thread = thread;
  q.capacity = kCapacity;
  q.mark = kCapacity / 2;
  q.scope = scope_;
  q.options = options_;
  q.root = HandleValue(target_);
  const Key key = NewKey();
  q.key[0] = key.k0;
  q.key[1] = key.k1;
  DWORD written = 0;
  const bool request_ready = WriteFile(pipe_write, &q, sizeof q, &written, nullptr) && written == sizeof q;
  SecureZeroMemory(&q, sizeof q);
  if (!request_ready) {
    UnmapViewOfFile(view);
    common::Raise(common::errInvalidArgument, kSource, L"Out of memory");
  }

  AttachOutcome outcome = kAttachNoHook;
  if (target64 == (sizeof(void*) == 8)) {
    if (HMODULE hook = HookLibrary())
      outcome = AttachThroughHook(hook, window, GetCurrentProcessId(), HandleValue(pipe_read), kAttachTimeoutMs);
  } else {
    outcome = AttachThroughAgent(target64, window, HandleValue(pipe_read));
  }
  request_in.reset();
  request_out.reset();
  const LONG status = VerifiedStatus(h, key);
  if (status < 0 || (status & 0xFF) != kAttached) {
    // A target that attached all the same (a neighbour spoiled its answer) or is still at it takes
    // the event as its leave: at once at its next message, which is sent now.
    InterlockedExchange(&h->detach_hint, 1);
    SetEvent(detach.get());
    if (IsWindow(window)) SendNotifyMessageW(window, WM_NULL, 0, 0);
    UnmapViewOfFile(view);
    if (status >= 0 && (status & 0xFF) == kRefused) common::Raise(common::errInvalidArgument, kSource, RefusalText(status >> 8));
    common::Raise(common::errInvalidArgument, kSource,
                  outcome == kAttachNoHook    ? L"The platform refused to hook the window's thread"
                  : outcome == kAttachNoAnswer ? L"The window's program did not answer"
                                               : L"The window's program did not take the capture");
  }

  Receiver* rcv = nullptr;
  auto* s = new CaptureSession();
  InterlockedIncrement(&g_live_sessions);
  s->owner = owner_;
  s->group = this;
  s->target = window;
  s->scope = scope_;
  s->essential = essential;
  if (scope_ == kScopeThread || (scope_ == kScopeProcess && !essential))
    s->thread = OpenThread(SYNCHRONIZE, FALSE, thread);
  s->view = h;
  s->capacity = kCapacity;
  s->key = key;
  s->start_time = essential || sessions_.empty() ? h->attached_time : sessions_.front()->start_time;
  s->target64 = target64;
  s->section = section.release();
  s->wake = wake.release();
  s->detach = detach.release();
  s->process = process.release();
  try {
    rcv = &ReceiverWindow();
    s->receiver = rcv;
    rcv->sessions.push_back(s);
  } catch (...) {
    InterlockedExchange(&h->detach_hint, 1);
    SetEvent(s->detach);
    FreeSession(s);
    ReleaseReceiverIfUnused();
    throw;
  }
  if (rcv->sessions.size() == 1) SetTimer(rcv->hwnd, kDrainTimer, kDrainIntervalMs, nullptr);
  RegisterWaitForSingleObject(&s->wait, s->wake, Woken, s, INFINITE, WT_EXECUTEDEFAULT);
  return s;
}

RemoteCapture::~RemoteCapture() {
  for (CaptureSession* s : sessions_) {
    // Only this side can end the capture: the target follows its event (and the hint at once, at
    // its next message). A target that let go already finds nobody to tell.
    InterlockedExchange(&s->view->detach_hint, 1);
    SetEvent(s->detach);
    if (IsWindow(s->target)) SendNotifyMessageW(s->target, WM_NULL, 0, 0);
    if (Receiver* r = s->receiver) {
      r->sessions.erase(std::remove(r->sessions.begin(), r->sessions.end(), s), r->sessions.end());
      if (r->sessions.empty()) KillTimer(r->hwnd, kDrainTimer);
    }
    s->closed = true;
    s->group = nullptr;
    // No wake-up may reach the receiver from now on, whoever frees the session.
    if (s->wait) UnregisterWaitEx(s->wait, INVALID_HANDLE_VALUE);
    s->wait = nullptr;
    if (s->delivering == 0) FreeSession(s);  // else the running delivery frees it
  }
  ReleaseReceiverIfUnused();
}

LONG RemoteCapture::Lost() const noexcept {
  LONG lost = 0;
  for (const CaptureSession* s : sessions_) lost += std::max(s->lost_placed, s->lost_known) + s->skipped;
  return lost;
}

bool RemoteCapture::Target64Bit() const noexcept { return target64_; }

std::vector<HWND> RemoteCapture::Watched() const {
  std::vector<HWND> out;
  if (scope_ == kScopeWindow) {
    out.push_back(target_);
    return out;
  }
  // (A window whose leaving was among messages lost is gone all the same.)
  for (ULONG w : watched_) {
    HWND h = reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(w)));
    if (IsWindow(h)) out.push_back(h);
  }
  return out;
}

const wchar_t* RemoteCapture::ClassOf(ULONG window) const noexcept {
  auto it = classes_.find(window);
  return it == classes_.end() ? nullptr : it->second.c_str();
}

void RemoteCapture::Joined(ULONG window, const wchar_t* cls, int chars) noexcept {
  try {
    std::wstring name(cls, static_cast<size_t>(std::max(chars, 0)));
    if (name.empty()) {  // (its record came before its class was written: ask the platform)
      wchar_t buf[257];
      int n = GetClassNameW(reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(window))), buf, 257);
      name.assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
    }
    classes_[window] = name;
    if (std::find(watched_.begin(), watched_.end(), window) == watched_.end()) watched_.push_back(window);
  } catch (...) {
  }
}

void RemoteCapture::Left(ULONG window) noexcept {
  // (No record of that window comes after this one: its class goes too, so a long capture of windows
  // made and destroyed keeps nothing of them.)
  watched_.erase(std::remove(watched_.begin(), watched_.end(), window), watched_.end());
  classes_.erase(window);
}

bool RemoteCapture::ReleaseShared() noexcept {
  if (g_live_sessions) return false;
  AcquireSRWLockShared(&g_receivers_lock);
  const bool receivers = !g_receivers.empty();
  ReleaseSRWLockShared(&g_receivers_lock);
  if (receivers) return false;
  AcquireSRWLockExclusive(&g_library_lock);
  if (g_hook) FreeLibrary(g_hook);
  g_hook = nullptr;
  ReleaseSRWLockExclusive(&g_library_lock);
  return true;
}

void RemoteCapture::SetFilter(bool all, const std::bitset<0x10000>* bits) noexcept {
  watch_all_ = all;
  if (bits != &filter_) {
    if (bits) filter_ = *bits;
    else filter_.reset();
  }
  for (CaptureSession* s : sessions_) {
    Header* h = s->view;
    for (size_t word = 0; word < std::size(h->filter); ++word) {
      ULONG v = 0;
      for (size_t b = 0; b < 32; ++b)
        if (filter_.test(word * 32 + b)) v |= 1UL << b;
      s->filter[word] = v;
      h->filter[word] = v;
    }
    s->watch_all = all ? 1 : 0;
    InterlockedExchange(&h->watch_all, s->watch_all);
  }
}

}  // namespace hookwire
