// A program that takes our procedure out of its window's chain (it puts back an older one): the
// capture ends and is told, the program keeps nothing of it, and the window can be watched again.
#include "remote_support.h"
#include "system_program.h"

namespace {

bool Has(const RecordingSink& sink, UINT msg, LONG_PTR wp) {
  for (auto& g : sink.got)
    if (g.first == static_cast<LONG>(msg) && g.second == wp) return true;
  return false;
}

// Watches `target`, lets `cut` take us out of the chain, and checks that this is told and that a new
// watcher then captures as the first did; the target's footprint is back where it was afterwards.
void CutOutRounds(const Target& t, HWND target, int rounds, const std::function<void()>& before,
                  const std::function<void()>& cut) {
  // One whole capture first: what stays for good (the pinned DLL, the pool's threads) is there then.
  {
    RecordingSink sink;
    auto w = Watch(static_cast<LONG>(reinterpret_cast<LONG_PTR>(target)), sink);
    w->put_Subclassed(VARIANT_FALSE);
  }
  SendMessageW(target, WM_NULL, 0, 0);
  PumpUntil([] { return false; }, 300);
  const Footprint base = Measure(t.process_handle());
  for (int round = 0; round < rounds; ++round) {
    before();
    RecordingSink sink;
    auto w = Watch(static_cast<LONG>(reinterpret_cast<LONG_PTR>(target)), sink);
    for (int i = 0; i < 3; ++i) SendMessageW(target, WM_USER + 40, static_cast<WPARAM>(i), 0);
    EXPECT_TRUE(PumpUntil([&] { return sink.got.size() >= 3; }, 3000))
        << "round " << round << ": " << sink.got.size() << " of 3 captured";
    LONG why = 0;
    EXPECT_FALSE(Ended(w, &why)) << "round " << round << " ended before the program did anything";
    cut();
    EXPECT_TRUE(PumpUntil([&] { return Ended(w, &why); }, 5000)) << "round " << round << ": the cut-out is not told";
    EXPECT_EQ(3, why) << "round " << round;  // hkEndCutOut
    w->put_Subclassed(VARIANT_FALSE);
    w = nullptr;
  }
  // The target let go without a message to the window.
  Footprint end;
  PumpUntil([&] {
    end = Measure(t.process_handle());
    return end.views == base.views && end.handles <= base.handles;
  }, 3000);
  EXPECT_EQ(base.views, end.views) << "capture buffers still mapped in the target";
  EXPECT_LE(end.handles, base.handles) << "handles left in the target";
}

}  // namespace

// The program puts back the procedure it had before the capture.
TEST(CutOut, TheTargetLetsGoAndTheWindowIsWatchedAgain) {
  Target t(L"cut out target");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  CutOutRounds(t, t.hwnd(), 3, [] {}, [&] { SendMessageW(t.hwnd(), kSetProc, 0, static_cast<LPARAM>(original)); });
  EXPECT_EQ(original, t.Proc());
}

// Its own subclass, made before the capture and taken off during it, puts back the procedure below
// that subclass: one we never saw in the window.
TEST(CutOut, AProcedureOlderThanTheOneBelowUsIsNoticedToo) {
  Target t(L"cut out below target");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  CutOutRounds(t, t.hwnd(), 2, [&] { SendMessageW(t.hwnd(), kSubclassSelf, 0, 0); },
               [&] { SendMessageW(t.hwnd(), kUnsubclassSelf, 0, 0); });
  EXPECT_EQ(original, t.Proc());
}

// The same with the platform's common-controls subclass: removing its last one puts the original
// procedure back.
TEST(CutOut, RemovingACommonControlsSubclassIsNoticed) {
  Target t(L"cut out common controls target");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  CutOutRounds(t, t.hwnd(), 2, [&] { ASSERT_TRUE(SendMessageW(t.hwnd(), kCommonSubclass, 0, 0)); },
               [&] { SendMessageW(t.hwnd(), kCommonUnsubclass, 0, 0); });
  EXPECT_EQ(original, t.Proc());
}

// A program of the other bitness.
TEST(CutOut, AProgramOfTheOtherBitness) {
  Target t(L"cut out other bitness target", testing_support::kIs64Bit ? L"HookTarget32.exe" : L"HookTarget64.exe");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  CutOutRounds(t, t.hwnd(), 2, [&] { SendMessageW(t.hwnd(), kSubclassSelf, 0, 0); },
               [&] { SendMessageW(t.hwnd(), kUnsubclassSelf, 0, 0); });
  EXPECT_EQ(original, t.Proc());
}

// An ANSI window, of this program's bitness and of the other: the look goes through the ANSI
// procedure, and what the program gets back is its ANSI window as it was.
TEST(CutOut, AnAnsiWindowOfEitherBitness) {
  for (const wchar_t* exe : {L"HookTarget.exe", testing_support::kIs64Bit ? L"HookTarget32.exe" : L"HookTarget64.exe"}) {
    SCOPED_TRACE(testing::Message() << "target " << exe);
    Target t(L"cut out ansi target", exe);
    ASSERT_TRUE(t.hwnd());
    HWND child = reinterpret_cast<HWND>(SendMessageW(t.hwnd(), kAnsiChild, 0, 0));
    ASSERT_TRUE(child);
    ASSERT_FALSE(IsWindowUnicode(child));
    const WPARAM wp = reinterpret_cast<WPARAM>(child);
    CutOutRounds(t, child, 2, [] {}, [&] { SendMessageW(t.hwnd(), kAnsiRestore, wp, 0); });
    EXPECT_EQ(1, SendMessageW(t.hwnd(), kAnsiIsOriginal, wp, 0));
    EXPECT_FALSE(IsWindowUnicode(child)) << "the capture left the window a Unicode one";
    EXPECT_EQ(0, TargetExceptions(t));
  }
}

// A program that subclasses above us and takes its subclass off again as it should leaves us in the
// chain: that is no cut-out, and the capture goes on.
TEST(CutOut, ASubclassAboveUsTakenOffCorrectlyIsNone) {
  Target t(L"pass-through target");
  ASSERT_TRUE(t.hwnd());
  RecordingSink sink;
  auto w = Watch(t.handle(), sink);
  const LRESULT ours = t.Proc();
  SendMessageW(t.hwnd(), kSubclassSelf, 0, 0);
  SendMessageW(t.hwnd(), WM_USER + 40, 1, 0);
  PumpUntil([] { return false; }, 2500);  // the program's subclass stays over more than one look
  SendMessageW(t.hwnd(), kUnsubclassSelf, 0, 0);
  EXPECT_EQ(ours, t.Proc());
  SendMessageW(t.hwnd(), WM_USER + 40, 2, 0);
  EXPECT_TRUE(PumpUntil([&] { return Has(sink, WM_USER + 40, 1) && Has(sink, WM_USER + 40, 2); }, 3000));
  PumpUntil([] { return false; }, 1500);
  LONG why = 0;
  EXPECT_FALSE(Ended(w, &why)) << "reason " << why;
  SendMessageW(t.hwnd(), WM_USER + 40, 3, 0);
  EXPECT_TRUE(PumpUntil([&] { return Has(sink, WM_USER + 40, 3); }, 3000));
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

// Windows whose own subclass cut us out silently used to keep their entries: a fresh window of the
// same program is watched after many of them.
TEST(CutOut, ManyCutOutWindowsLeaveRoomForANewOne) {
  Target t(L"many cut out windows target");
  ASSERT_TRUE(t.hwnd());
  const int n = 70;
  for (int i = 0; i < n; ++i) {
    HWND child = reinterpret_cast<HWND>(SendMessageW(t.hwnd(), kNewChild, 0, 0));
    ASSERT_TRUE(child);
    SendMessageW(t.hwnd(), kSubclassSelf, reinterpret_cast<WPARAM>(child), 0);
    RecordingSink sink;
    HRESULT hr = E_FAIL;
    auto w = TryWatch(child, sink, &hr);
    ASSERT_EQ(S_OK, hr) << "window " << i << ": " << testing_support::LastErrorDescription();
    SendMessageW(t.hwnd(), kUnsubclassSelf, reinterpret_cast<WPARAM>(child), 0);
    w->put_Subclassed(VARIANT_FALSE);
  }
  RecordingSink sink;
  HWND fresh = reinterpret_cast<HWND>(SendMessageW(t.hwnd(), kNewChild, 0, 0));
  HRESULT hr = E_FAIL;
  auto w = TryWatch(fresh, sink, &hr);
  EXPECT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
  SendMessageW(fresh, WM_USER + 40, 5, 0);
  EXPECT_TRUE(PumpUntil([&] { return Has(sink, WM_USER + 40, 5); }, 3000));
  w->put_Subclassed(VARIANT_FALSE);
  PumpUntil([] { return false; }, 1500);
  EXPECT_EQ(0, Measure(t.process_handle()).views) << "capture buffers still mapped in the target";
}

// How many watchers one window and how many windows one program may have, and what a client is told
// past each.
TEST(CutOut, TheLimitsAreToldApart) {
  Target t(L"limits target");
  ASSERT_TRUE(t.hwnd());
  std::vector<std::unique_ptr<RecordingSink>> sinks;
  std::vector<com_ptr<_HookwireWindow>> ws;
  std::wstring refusal;
  int watchers = 0;
  for (int i = 0; i < 40 && refusal.empty(); ++i) {
    sinks.push_back(std::make_unique<RecordingSink>());
    HRESULT hr = E_FAIL;
    auto w = TryWatch(t.hwnd(), *sinks.back(), &hr);
    if (hr == S_OK) {
      ++watchers;
      ws.push_back(w);
    } else {
      refusal = testing_support::LastErrorDescription();
      w->putref_MessageSink(nullptr);
    }
  }
  EXPECT_EQ(8, watchers);
  EXPECT_NE(std::wstring::npos, refusal.find(L"watchers on this window")) << refusal;
  for (auto& w : ws) w->put_Subclassed(VARIANT_FALSE);
  ws.clear();
  refusal.clear();
  int windows = 1;  // the main window's entry may stay until its next message
  for (int i = 0; i < 400 && refusal.empty(); ++i) {
    HWND child = reinterpret_cast<HWND>(SendMessageW(t.hwnd(), kNewChild, 0, 0));
    ASSERT_TRUE(child);
    sinks.push_back(std::make_unique<RecordingSink>());
    HRESULT hr = E_FAIL;
    auto w = TryWatch(child, *sinks.back(), &hr);
    if (hr == S_OK) {
      ++windows;
      ws.push_back(w);
    } else {
      refusal = testing_support::LastErrorDescription();
      w->putref_MessageSink(nullptr);
    }
  }
  std::printf("[ limits ] %d watchers of one window, %d windows of one program\n", watchers, windows);
  EXPECT_GE(windows, 64);
  EXPECT_NE(std::wstring::npos, refusal.find(L"windows of this program")) << refusal;
  for (auto& w : ws) w->put_Subclassed(VARIANT_FALSE);
}

// A neighbour that closes, in the target, the handles the capture gave it closes nothing: the target
// keeps what it opened, and closes exactly that when the watcher leaves.
TEST(CutOut, ANeighbourCannotCloseTheTargetsCaptureHandles) {
  Target t(L"closed handles target");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  {
    RecordingSink sink;
    auto w = Watch(t.handle(), sink);
    w->put_Subclassed(VARIANT_FALSE);
  }
  SendMessageW(t.hwnd(), WM_NULL, 0, 0);
  PumpUntil([] { return false; }, 300);
  auto values = [&] {
    std::vector<ULONG_PTR> out;
    for (ULONG_PTR value = 4; value < 0x2000; value += 4) {
      HANDLE mine = nullptr;
      if (DuplicateHandle(t.process_handle(), reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &mine, 0, FALSE,
                          DUPLICATE_SAME_ACCESS)) {
        out.push_back(value);
        CloseHandle(mine);
      }
    }
    return out;
  };
  const auto before = values();
  RecordingSink sink;
  auto w = Watch(t.handle(), sink);
  std::vector<ULONG_PTR> fresh;
  for (ULONG_PTR v : values())
    if (std::find(before.begin(), before.end(), v) == before.end()) fresh.push_back(v);
  EXPECT_GE(fresh.size(), 4u);
  for (ULONG_PTR v : fresh) {
    HANDLE copy = nullptr;
    if (DuplicateHandle(t.process_handle(), reinterpret_cast<HANDLE>(v), GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE))
      CloseHandle(copy);
  }
  int still = 0;
  const auto after = values();
  for (ULONG_PTR v : fresh) still += std::find(after.begin(), after.end(), v) != after.end();
  EXPECT_EQ(static_cast<int>(fresh.size()), still) << "a neighbour closed the target's own handles";
  SendMessageW(t.hwnd(), WM_USER + 40, 1, 0);
  EXPECT_TRUE(PumpUntil([&] { return Has(sink, WM_USER + 40, 1); }, 3000));
  w->put_Subclassed(VARIANT_FALSE);
  PumpUntil([] { return false; }, 1000);
  const auto end = values();
  EXPECT_EQ(before.size(), end.size());
  EXPECT_EQ(original, t.Proc());
  EXPECT_EQ(0, TargetExceptions(t));
}
