// Watching a family of windows of another program: a window with its descendants, a thread's windows,
// a program's windows, with the windows made while it is watched. Each window's capture is compared
// with what that window's own procedure logged.
#include <map>
#include <set>

#include "remote_support.h"
#include "system_program.h"

namespace {

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

const wchar_t* OtherBitness() { return testing_support::kIs64Bit ? L"HookTarget32.exe" : L"HookTarget64.exe"; }

ULONG Low(HWND h) { return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(h)); }
HWND FromLong(LRESULT v) { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(v))); }

// What the sink was handed, by window (IhkMessageDetails.Window).
struct FamilySink : Sink {
  IhkMessageDetails* details = nullptr;  // the window object's (not counted)
  std::map<ULONG, std::vector<UINT>> messages;
  std::map<ULONG, std::vector<LONG_PTR>> counted;  // wParams of kCounted
  std::map<ULONG, std::wstring> classes;
  FamilySink() {
    handler = [this](LONG msg, LONG_PTR wp, LONG_PTR, LONG_PTR*) {
      LONG w = 0;
      EXPECT_EQ(S_OK, details->get_Window(&w));
      messages[static_cast<ULONG>(w)].push_back(static_cast<UINT>(msg));
      if (msg == static_cast<LONG>(kCounted)) counted[static_cast<ULONG>(w)].push_back(wp);
      if (!classes.count(static_cast<ULONG>(w))) {
        BSTR c = nullptr;
        details->get_WindowClass(&c);
        classes[static_cast<ULONG>(w)] = c ? c : L"";
        SysFreeString(c);
      }
      return S_OK;
    };
  }
};

struct Family {
  com_ptr<_HookwireWindow> window;
  com_ptr<IhkMessageDetails> details;
  com_ptr<IhkCaptureScope> scope;

  std::set<ULONG> Watched() const {
    std::set<ULONG> out;
    LONG n = 0;
    scope->get_WatchedCount(&n);
    for (LONG i = 0; i < n; ++i) {
      LONG h = 0;
      if (scope->get_WatchedWindow(i, &h) == S_OK) out.insert(static_cast<ULONG>(h));
    }
    return out;
  }
};

LONG Lost(const Family& f) {
  LONG lost = -1;
  f.details->get_LostMessages(&lost);
  return lost;
}

Family WatchFamily(HWND h, FamilySink& sink, LONG scope, bool take_new, HRESULT* hr, bool message_only = false) {
  Family f;
  f.window = NewHookwireWindow();
  f.window->put_hWnd(static_cast<LONG>(reinterpret_cast<LONG_PTR>(h)));
  f.scope = f.window.query<IhkCaptureScope>(IID_IhkCaptureScope);
  f.details = f.window.query<IhkMessageDetails>(IID_IhkMessageDetails);
  EXPECT_EQ(S_OK, f.scope->put_Scope(scope));
  EXPECT_EQ(S_OK, f.scope->put_IncludeNewWindows(take_new ? VARIANT_TRUE : VARIANT_FALSE));
  EXPECT_EQ(S_OK, f.scope->put_IncludeMessageOnly(message_only ? VARIANT_TRUE : VARIANT_FALSE));
  sink.details = f.details.get();
  f.window->put_WatchMessage(kAll, VARIANT_TRUE);
  f.window->putref_MessageSink(&sink);
  *hr = f.window->put_Subclassed(VARIANT_TRUE);
  return f;
}

// Everything window `w` of the target's program received, as its own procedure logged it.
std::vector<UINT> Received(const Target& t, HWND w) {
  std::vector<UINT> out;
  const LRESULT n = SendMessageW(t.hwnd(), kReceivedCount, reinterpret_cast<WPARAM>(w), 0);
  for (LRESULT i = 0; i < n; ++i)
    out.push_back(static_cast<UINT>(SendMessageW(t.hwnd(), kReceivedAt, reinterpret_cast<WPARAM>(w), i)));
  return out;
}

std::vector<LONG_PTR> Counted(const Target& t, HWND w) {
  std::vector<LONG_PTR> out;
  const LRESULT n = SendMessageW(t.hwnd(), kCountedCount, reinterpret_cast<WPARAM>(w), 0);
  for (LRESULT i = 0; i < n; ++i) out.push_back(SendMessageW(t.hwnd(), kCountedAt, reinterpret_cast<WPARAM>(w), i));
  return out;
}

bool Original(const Target& t, HWND w) { return SendMessageW(t.hwnd(), kIsOriginal, reinterpret_cast<WPARAM>(w), 0) != 0; }

const char* ScopeName(LONG scope) {
  switch (scope) {
    case hkScopeChildren: return "children";
    case hkScopeThread: return "thread";
    case hkScopeProcess: return "process";
    default: return "window";
  }
}

// A program with windows on two threads: the main window and two children of it, a popup of the
// main thread (not a descendant), and a popup on a thread of its own with a child. The family of
// `scope` around the main window is watched, windows are made in it while it is watched, and a
// generated stream of kCounted goes to all windows. Every window of the family is captured as its
// own procedure received it (the new ones from their first message on), no other window is, and
// once the capture is turned off every window has its own procedure again.
void FamilyAgainstOwnLogs(const wchar_t* exe, LONG scope, unsigned seed) {
  SCOPED_TRACE(testing::Message() << "scope " << ScopeName(scope) << ", seed " << seed << " (HOOKWIRE_FAMILY_SEED)");
  Target t(L"family target", exe);
  ASSERT_TRUE(t.hwnd());
  HWND main = t.hwnd();
  HWND c1 = FromLong(SendMessageW(main, kNewChild, 0, 0));
  HWND c2 = FromLong(SendMessageW(main, kNewChild, 0, 0));
  HWND popup = FromLong(SendMessageW(main, kNewPopup, 0, 0));
  HWND other = FromLong(SendMessageW(main, kThreadWindow, 0, 0));  // a popup on a thread of its own
  ASSERT_TRUE(c1 && c2 && popup && other);
  HWND other_child = FromLong(SendMessageW(other, kNewChild, 0, 0));
  ASSERT_TRUE(other_child);
  const bool main_thread_all = scope == hkScopeThread || scope == hkScopeProcess;
  std::map<HWND, bool> inside = {{main, true},   {c1, true},  {c2, true}, {popup, main_thread_all},
                                 {other, scope == hkScopeProcess}, {other_child, scope == hkScopeProcess}};

  FamilySink sink;
  HRESULT hr = E_FAIL;
  Family f = WatchFamily(main, sink, scope, true, &hr);
  ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();

  std::mt19937 rng(seed);
  std::vector<HWND> pool = {main, c1, c2, popup, other, other_child};
  std::vector<HWND> made;
  std::map<HWND, LONG_PTR> next;
  for (int i = 0; i < 400; ++i) {
    const unsigned pick = rng() % 100;
    if (pick < 6) {  // a new child of a window of the family, made on that window's thread
      HWND parent = pool[rng() % 3];  // main, c1 or c2: inside in every scope
      if (scope == hkScopeProcess && rng() % 2) parent = other;
      HWND c = FromLong(SendMessageW(parent, kNewChild, 0, 0));
      ASSERT_TRUE(c);
      inside[c] = true;
      pool.push_back(c);
      made.push_back(c);
      continue;
    }
    HWND w = pool[rng() % pool.size()];
    const LONG_PTR n = next[w]++;
    switch (pick % 3) {
      case 0: SendMessageW(w, kCounted, static_cast<WPARAM>(n), 0); break;
      case 1: PostMessageW(w, kCounted, static_cast<WPARAM>(n), 0); break;
      default: SendNotifyMessageW(w, kCounted, static_cast<WPARAM>(n), 0); break;
    }
  }
  // Everything the windows of the family received is captured.
  auto caught_up = [&] {
    for (HWND w : pool)
      if (inside[w] && sink.counted[Low(w)].size() < static_cast<size_t>(next[w])) return false;
    return true;
  };
  EXPECT_TRUE(PumpUntil(caught_up, 20000)) << "the capture did not catch up";
  for (HWND w : pool) {
    SCOPED_TRACE(testing::Message() << "window 0x" << std::hex << Low(w));
    EXPECT_EQ(static_cast<size_t>(next[w]), Counted(t, w).size()) << "the window's own log";
    if (inside[w]) {
      EXPECT_EQ(Counted(t, w), sink.counted[Low(w)]) << "not what the window's own procedure received";
      EXPECT_EQ(L"HookTargetWindow", sink.classes[Low(w)]);
    } else {
      EXPECT_EQ(0u, sink.messages.count(Low(w))) << "a window outside the family was captured";
    }
  }
  // A window made while watched: from its first message on, exactly what its procedure received.
  for (HWND w : made) {
    SCOPED_TRACE(testing::Message() << "new window 0x" << std::hex << Low(w));
    const std::vector<UINT> own = Received(t, w);
    PumpUntil([&] { return sink.messages[Low(w)].size() >= own.size(); }, 5000);
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(static_cast<UINT>(WM_NCCREATE), own.size() > 1 && own[0] == WM_GETMINMAXINFO ? own[1] : own[0]);
    EXPECT_EQ(own, sink.messages[Low(w)]);
  }
  // The family as the window object lists it.
  const std::set<ULONG> watched = f.Watched();
  for (HWND w : pool) EXPECT_EQ(inside[w], watched.count(Low(w)) == 1) << "watched list, window 0x" << std::hex << Low(w);

  EXPECT_EQ(S_OK, f.window->put_Subclassed(VARIANT_FALSE));
  for (HWND w : pool)
    EXPECT_TRUE(PumpUntil([&] { return Original(t, w); }, 5000)) << "window 0x" << std::hex << Low(w) << " left subclassed";
  EXPECT_EQ(0, TargetExceptions(t));
}

}  // namespace

TEST(Family, EachWindowOfTheFamilyIsCapturedAsItsOwnProcedureReceivedIt) {
  const unsigned seed = EnvNumber("HOOKWIRE_FAMILY_SEED", 2412);
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << exe);
    for (LONG scope : {hkScopeChildren, hkScopeThread, hkScopeProcess}) FamilyAgainstOwnLogs(exe, scope, seed + scope);
  }
}

// Windows made and destroyed while the family is watched, more of them in all than one program can
// have watched at once: each is captured from its first message, each leaves the list when destroyed,
// and their places are taken again.
TEST(Family, WindowsMadeAndDestroyedWhileWatchedAreTakenInAndLetGo) {
  const int per_round = static_cast<int>(EnvNumber("HOOKWIRE_FAMILY_WINDOWS", 1000));
  Target t(L"family target with many windows");
  ASSERT_TRUE(t.hwnd());
  FamilySink sink;
  HRESULT hr = E_FAIL;
  Family f = WatchFamily(t.hwnd(), sink, hkScopeChildren, true, &hr);
  ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    std::vector<HWND> made;
    for (int i = 0; i < per_round; ++i) {
      HWND c = FromLong(SendMessageW(t.hwnd(), kNewChild, 0, 0));
      ASSERT_TRUE(c) << i;
      SendMessageW(c, kCounted, static_cast<WPARAM>(i), 0);
      made.push_back(c);
      if (i % 50 == 0) testing_support::PumpMessages();  // the capture is read on this thread
    }
    EXPECT_TRUE(PumpUntil([&] { return sink.counted[Low(made.back())].size() == 1; }, 20000))
        << "lost so far: " << Lost(f);
    int missed = 0, different = 0;
    for (HWND c : made) {
      const std::vector<UINT> own = Received(t, c);
      testing_support::PumpMessages();
      if (sink.messages[Low(c)].empty()) ++missed;
      else if (own != sink.messages[Low(c)]) ++different;
    }
    EXPECT_EQ(0, missed) << "windows never captured";
    EXPECT_EQ(0, different) << "windows whose capture is not what their procedure received";
    EXPECT_EQ(0, Lost(f)) << "messages lost";
    EXPECT_EQ(static_cast<size_t>(per_round + 1), f.Watched().size());
    for (size_t i = 0; i < made.size(); ++i) {
      SendMessageW(t.hwnd(), kDestroy, reinterpret_cast<WPARAM>(made[i]), 0);
      if (i % 50 == 0) testing_support::PumpMessages();
    }
    EXPECT_TRUE(PumpUntil([&] { return f.Watched().size() == 1; }, 10000)) << f.Watched().size() << " still listed";
    EXPECT_EQ(0, Lost(f)) << "messages lost";
    for (HWND c : made) sink.messages.erase(Low(c)), sink.counted.erase(Low(c));
  }
  VARIANT_BOOL on = VARIANT_FALSE;
  f.window->get_Subclassed(&on);
  EXPECT_EQ(VARIANT_TRUE, on) << "the family's capture ended with its windows";
  EXPECT_EQ(S_OK, f.window->put_Subclassed(VARIANT_FALSE));
  EXPECT_TRUE(PumpUntil([&] { return Original(t, t.hwnd()); }, 5000));
  EXPECT_EQ(0, TargetExceptions(t));
}

// The family let go while its windows are busy on two threads: every message still reaches its
// window, and every window has its own procedure again.
TEST(Family, ReleasedWhileMessagesFlowLeavesEveryWindowAsItWas) {
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << exe);
    Target t(L"family target released", exe);
    ASSERT_TRUE(t.hwnd());
    HWND other = FromLong(SendMessageW(t.hwnd(), kThreadWindow, 0, 0));
    std::vector<HWND> windows = {t.hwnd(), FromLong(SendMessageW(t.hwnd(), kNewChild, 0, 0)), other,
                                 FromLong(SendMessageW(other, kNewChild, 0, 0))};
    FamilySink sink;
    HRESULT hr = E_FAIL;
    Family f = WatchFamily(t.hwnd(), sink, hkScopeProcess, true, &hr);
    ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread sender([&] {
      for (int i = 0; !stop; ++i) {
        SendMessageW(windows[static_cast<size_t>(i) % windows.size()], kCounted, static_cast<WPARAM>(i), 0);
        ++sent;
      }
    });
    PumpUntil([&] { return sent > 400; }, 10000);
    f = Family{};  // the last reference: the capture ends while the sender goes on
    PumpUntil([&] { return false; }, 300);
    stop = true;
    sender.join();
    size_t logged = 0;
    for (HWND w : windows) {
      logged += Counted(t, w).size();
      EXPECT_TRUE(PumpUntil([&] { return Original(t, w); }, 5000)) << "window 0x" << std::hex << Low(w) << " left subclassed";
    }
    EXPECT_EQ(static_cast<size_t>(sent.load()), logged) << "messages lost on the way to their windows";
    EXPECT_EQ(0, TargetExceptions(t));
  }
}

TEST(Family, TheScopeIsSetBeforeWatchingAndOnlyToAScope) {
  Target t(L"family target scope");
  ASSERT_TRUE(t.hwnd());
  com_ptr<_HookwireWindow> w = NewHookwireWindow();
  auto scope = w.query<IhkCaptureScope>(IID_IhkCaptureScope);
  ASSERT_TRUE(scope);
  LONG v = -1;
  EXPECT_EQ(S_OK, scope->get_Scope(&v));
  EXPECT_EQ(hkScopeWindow, v);
  EXPECT_NE(S_OK, scope->put_Scope(4));
  EXPECT_NE(S_OK, scope->put_Scope(-1));
  EXPECT_EQ(S_OK, scope->put_Scope(hkScopeChildren));
  w->put_hWnd(t.handle());
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE));
  EXPECT_NE(S_OK, scope->put_Scope(hkScopeWindow));
  EXPECT_NE(S_OK, scope->put_IncludeNewWindows(VARIANT_TRUE));
  EXPECT_EQ(S_OK, scope->get_Scope(&v));
  EXPECT_EQ(hkScopeChildren, v);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
  EXPECT_EQ(S_OK, scope->put_Scope(hkScopeWindow));
}

// A family on the client's own thread goes through the same buffer as another program's: its windows
// (and one made meanwhile) are captured, and each has its own procedure again afterwards.
TEST(Family, AFamilyOfTheClientsOwnThreadIsWatchedToo) {
  HWND parent = CreateWindowExW(0, L"STATIC", L"own family", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 5, 5, parent, nullptr, nullptr, nullptr);
  ASSERT_TRUE(parent && child);
  const LONG_PTR original = GetWindowLongPtrW(child, GWLP_WNDPROC);
  FamilySink sink;
  HRESULT hr = E_FAIL;
  Family f = WatchFamily(parent, sink, hkScopeChildren, true, &hr);
  ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
  SendMessageW(child, WM_USER + 7, 1, 0);
  SendMessageW(parent, WM_USER + 7, 2, 0);
  HWND later = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 5, 5, parent, nullptr, nullptr, nullptr);
  ASSERT_TRUE(later);
  SendMessageW(later, WM_USER + 7, 3, 0);
  auto has = [&](HWND w) {
    const auto& v = sink.messages[Low(w)];
    return std::count(v.begin(), v.end(), static_cast<UINT>(WM_USER + 7)) == 1;
  };
  EXPECT_TRUE(PumpUntil([&] { return has(child) && has(parent) && has(later); }, 5000));
  EXPECT_EQ(static_cast<UINT>(WM_NCCREATE), sink.messages[Low(later)].empty() ? 0u : sink.messages[Low(later)].front());
  EXPECT_EQ(L"Static", sink.classes[Low(child)]);
  EXPECT_EQ(S_OK, f.window->put_Subclassed(VARIANT_FALSE));
  PumpUntil([&] { return GetWindowLongPtrW(child, GWLP_WNDPROC) == original; }, 3000);
  EXPECT_EQ(original, GetWindowLongPtrW(child, GWLP_WNDPROC));
  EXPECT_EQ(original, GetWindowLongPtrW(later, GWLP_WNDPROC));
  DestroyWindow(parent);
}

// A thread's family whose windows were all destroyed while its thread goes on: the watcher's leaving
// still lets go of its buffer in the program (the program is otherwise left with a buffer it can never
// give up, and after enough of them no window of it can be watched any more).
TEST(Family, AThreadFamilyWithNoWindowLeftIsLetGoWhenTheWatcherLeaves) {
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << exe);
    Target t(L"family target emptied", exe);
    ASSERT_TRUE(t.hwnd());
    HWND popup = FromLong(SendMessageW(t.hwnd(), kThreadWindow, 0, 0));
    ASSERT_TRUE(popup);
    FamilySink sink;
    HRESULT hr = E_FAIL;
    Family f = WatchFamily(popup, sink, hkScopeThread, true, &hr);
    ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
    // (A 32-bit watcher under the emulator cannot look into a 64-bit program's memory.)
    const bool seen = Measure(t.process_handle()).views == 1;
    EXPECT_TRUE(seen || (!testing_support::kIs64Bit && std::wstring(exe) != L"HookTarget.exe"));
    SendMessageW(popup, kDestroy, reinterpret_cast<WPARAM>(popup), 0);
    ASSERT_FALSE(IsWindow(popup));
    EXPECT_TRUE(PumpUntil([&] { return f.Watched().empty(); }, 5000));
    EXPECT_EQ(S_OK, f.window->put_Subclassed(VARIANT_FALSE));
    f = Family{};
    if (seen)
      EXPECT_TRUE(PumpUntil([&] { return Measure(t.process_handle()).views == 0; }, 5000))
          << "the program still holds the buffer of a watcher that left";
    // The program's windows can be watched again, each as it was.
    FamilySink again;
    Family g = WatchFamily(t.hwnd(), again, hkScopeWindow, false, &hr);
    EXPECT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
    EXPECT_EQ(S_OK, g.window->put_Subclassed(VARIANT_FALSE));
    EXPECT_EQ(0, TargetExceptions(t));
  }
}

// The family of a window with its children is its descendants as they are now: a window moved to a
// parent outside it leaves (its messages are no longer captured, it is off the list and has its own
// procedure again, with its own child), and one moved within it stays.
TEST(Family, AWindowMovedOutOfTheFamilyLeavesIt) {
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << exe);
    Target t(L"family target reparented", exe);
    ASSERT_TRUE(t.hwnd());
    HWND main = t.hwnd();
    HWND moved = FromLong(SendMessageW(main, kNewChild, 0, 0));
    HWND grandchild = FromLong(SendMessageW(moved, kNewChild, 0, 0));
    HWND within = FromLong(SendMessageW(main, kNewChild, 0, 0));
    HWND stays = FromLong(SendMessageW(main, kNewChild, 0, 0));
    HWND outside = FromLong(SendMessageW(main, kNewPopup, 0, 0));
    ASSERT_TRUE(moved && grandchild && within && stays && outside);
    FamilySink sink;
    HRESULT hr = E_FAIL;
    Family f = WatchFamily(main, sink, hkScopeChildren, false, &hr);
    ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
    PumpUntil([&] { return f.Watched().size() == 5; }, 5000);  // the joinings are read on this thread
    EXPECT_EQ((std::set<ULONG>{Low(main), Low(moved), Low(grandchild), Low(within), Low(stays)}), f.Watched());
    SendMessageW(moved, kReparent, 0, reinterpret_cast<LPARAM>(outside));
    SendMessageW(within, kReparent, 0, reinterpret_cast<LPARAM>(stays));
    ASSERT_FALSE(IsChild(main, moved));
    for (HWND w : {moved, grandchild, within, stays, main}) SendMessageW(w, kCounted, 1, 0);
    EXPECT_TRUE(PumpUntil([&] { return sink.counted[Low(main)].size() == 1; }, 5000));
    PumpUntil([&] { return false; }, 200);
    EXPECT_EQ(0u, sink.counted[Low(moved)].size()) << "a window moved out of the family was captured";
    EXPECT_EQ(0u, sink.counted[Low(grandchild)].size()) << "its child was captured";
    EXPECT_EQ(1u, sink.counted[Low(within)].size()) << "a window moved within the family was not";
    EXPECT_EQ(1u, sink.counted[Low(stays)].size());
    EXPECT_EQ((std::set<ULONG>{Low(main), Low(within), Low(stays)}), f.Watched());
    EXPECT_TRUE(Original(t, moved)) << "the window moved out is still subclassed";
    EXPECT_TRUE(Original(t, grandchild));
    EXPECT_EQ(S_OK, f.window->put_Subclassed(VARIANT_FALSE));
    EXPECT_TRUE(PumpUntil([&] { return Original(t, main) && Original(t, within) && Original(t, stays); }, 5000));
    EXPECT_EQ(0, TargetExceptions(t));
  }
}

// A window whose joining record was among the messages lost (the buffer full while the watcher did
// not read) is listed all the same, with its class, once its messages arrive.
TEST(Family, AWindowWhoseJoiningWasLostIsListedWithItsMessages) {
  Target t(L"family target overflowing");
  ASSERT_TRUE(t.hwnd());
  FamilySink sink;
  HRESULT hr = E_FAIL;
  Family f = WatchFamily(t.hwnd(), sink, hkScopeChildren, true, &hr);
  ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
  // Nothing is read on this thread meanwhile: more than the buffer holds, then a new child.
  const int flood = static_cast<int>(hookwire::ring::kCapacity) + 1000;
  for (int i = 0; i < flood; ++i) PostMessageW(t.hwnd(), kCounted, static_cast<WPARAM>(i), 0);
  for (int i = 0; i < 600 && Counted(t, t.hwnd()).size() < static_cast<size_t>(flood); ++i) Sleep(50);
  HWND child = FromLong(SendMessageW(t.hwnd(), kNewChild, 0, 0));
  ASSERT_TRUE(child);
  SendMessageW(t.hwnd(), WM_USER + 3, 0, 0);  // pumped by the target: the buffer is still full
  EXPECT_TRUE(PumpUntil([&] { return Lost(f) > 0; }, 10000)) << "the buffer never overflowed";
  SendMessageW(child, kCounted, 5, 0);
  EXPECT_TRUE(PumpUntil([&] { return sink.counted[Low(child)].size() == 1; }, 10000));
  EXPECT_EQ(L"HookTargetWindow", sink.classes[Low(child)]);
  EXPECT_EQ(1u, f.Watched().count(Low(child))) << "the window whose messages are captured is not listed";
  EXPECT_EQ(S_OK, f.window->put_Subclassed(VARIANT_FALSE));
}

// Without IncludeMessageOnly a message-only window is out of a program's family together with its
// descendants, whether it was there at the start or made later; with it, all of them are in.
TEST(Family, MessageOnlyWindowsAndTheirChildrenAreInOrOutTogether) {
  for (bool message_only : {false, true}) {
    SCOPED_TRACE(message_only ? "with message-only windows" : "without message-only windows");
    Target t(L"family target with message-only windows");
    ASSERT_TRUE(t.hwnd());
    HWND before = FromLong(SendMessageW(t.hwnd(), kNewMessageOnly, 0, 0));
    ASSERT_TRUE(before);
    HWND before_child = FromLong(SendMessageW(before, kNewChild, 0, 0));
    FamilySink sink;
    HRESULT hr = E_FAIL;
    Family f = WatchFamily(t.hwnd(), sink, hkScopeProcess, true, &hr, message_only);
    ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
    HWND later_child_of_before = FromLong(SendMessageW(before, kNewChild, 0, 0));
    HWND later = FromLong(SendMessageW(t.hwnd(), kNewMessageOnly, 0, 0));
    HWND later_child = FromLong(SendMessageW(later, kNewChild, 0, 0));
    ASSERT_TRUE(before_child && later_child_of_before && later && later_child);
    const std::vector<HWND> windows = {before, before_child, later_child_of_before, later, later_child};
    for (HWND w : windows) SendMessageW(w, kCounted, 1, 0);
    SendMessageW(t.hwnd(), kCounted, 1, 0);
    EXPECT_TRUE(PumpUntil([&] { return sink.counted[Low(t.hwnd())].size() == 1; }, 5000));
    PumpUntil([&] { return false; }, 200);
    const std::set<ULONG> watched = f.Watched();
    for (HWND w : windows) {
      SCOPED_TRACE(testing::Message() << "window 0x" << std::hex << Low(w));
      EXPECT_EQ(message_only ? 1u : 0u, sink.counted[Low(w)].size());
      EXPECT_EQ(message_only, watched.count(Low(w)) == 1);
    }
    EXPECT_EQ(S_OK, f.window->put_Subclassed(VARIANT_FALSE));
    for (HWND w : windows) EXPECT_TRUE(PumpUntil([&] { return Original(t, w); }, 5000));
  }
}

// A neighbour that rewrites the class in the records of windows joining the family cannot make the
// sink believe another class: the class it is told is the window's own.
TEST(Family, ANeighbourCannotRenameTheClassOfWindowsJoining) {
  Target t(L"family target with a renaming neighbour");
  ASSERT_TRUE(t.hwnd());
  FamilySink sink;
  HRESULT hr = E_FAIL;
  Family f = WatchFamily(t.hwnd(), sink, hkScopeChildren, true, &hr);
  ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
  hookwire::ring::Header* view = FindBuffer(t.process_handle());
  ASSERT_TRUE(view);
  std::atomic<bool> stop{false};
  std::thread neighbour([&] {
    using namespace hookwire::ring;
    while (!stop) {
      const LONG at = view->write_index;
      for (LONG i = at - 8; i <= at; ++i) {
        if (i < 0) continue;
        Record* r = RecordAt(view, kCapacity, static_cast<ULONG>(i));
        if (!(r->flags & kWindowJoined)) continue;
        Data* d = DataAt(view, kCapacity, static_cast<ULONG>(i));
        const wchar_t evil[] = L"EVIL!";
        std::memcpy(d->text, evil, sizeof evil);
      }
    }
  });
  std::vector<HWND> made;
  for (int i = 0; i < 30; ++i) {
    HWND c = FromLong(SendMessageW(t.hwnd(), kNewChild, 0, 0));
    ASSERT_TRUE(c);
    SendMessageW(c, kCounted, 1, 0);
    made.push_back(c);
  }
  EXPECT_TRUE(PumpUntil([&] { return sink.counted[Low(made.back())].size() == 1; }, 20000));
  stop = true;
  neighbour.join();
  int renamed = 0;
  for (HWND c : made) renamed += sink.classes[Low(c)] != L"HookTargetWindow";
  EXPECT_EQ(0, renamed) << "windows reported with a class the neighbour wrote";
  UnmapViewOfFile(view);
  EXPECT_EQ(S_OK, f.window->put_Subclassed(VARIANT_FALSE));
}

// A thread of the family that ends: the program gives up that thread's buffer (nothing of the thread
// is left to do it, so a worker of the program's pool does), while the rest of the family goes on.
TEST(Family, TheBufferOfAThreadThatEndedIsLetGoWhileTheFamilyGoesOn) {
  Target t(L"family target whose thread ends");
  ASSERT_TRUE(t.hwnd());
  HWND other = FromLong(SendMessageW(t.hwnd(), kThreadWindow, 0, 0));
  ASSERT_TRUE(other);
  FamilySink sink;
  HRESULT hr = E_FAIL;
  Family f = WatchFamily(t.hwnd(), sink, hkScopeProcess, true, &hr);
  ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
  SendMessageW(other, kCounted, 1, 0);
  ASSERT_TRUE(PumpUntil([&] { return sink.counted[Low(other)].size() == 1; }, 5000));
  ASSERT_EQ(2, Measure(t.process_handle()).views);
  PostMessageW(other, WM_QUIT, 0, 0);  // its thread leaves its loop and ends
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(other); }, 5000));
  PumpUntil([&] { return false; }, 1500);
  SendMessageW(t.hwnd(), kCounted, 2, 0);
  EXPECT_TRUE(PumpUntil([&] { return sink.counted[Low(t.hwnd())].size() == 1; }, 5000)) << "the family goes on";
  EXPECT_TRUE(PumpUntil([&] { return Measure(t.process_handle()).views == 1; }, 5000))
      << "the ended thread's buffer is still held while the family goes on";
  f = Family{};
  EXPECT_TRUE(PumpUntil([&] { return Measure(t.process_handle()).views == 0; }, 5000))
      << Measure(t.process_handle()).views << " buffers still held by the program";
  EXPECT_TRUE(Original(t, t.hwnd()));
  EXPECT_EQ(0, TargetExceptions(t));
}
