// What a watched program may do with its window's chain of procedures, during a capture or after
// one: keep a pointer to our procedure and call it later, put a stale procedure back, answer WM_NULL
// itself above us, reset its subclass, take its subclass off as the window goes. Whatever it does,
// the window's own procedure gets each message exactly once, the program neither crashes nor hangs,
// the watcher is told when the capture ends (and only then), and the program keeps nothing of it.
//
// Every request to the program waits a few seconds at most: a program that recurses for ever or
// died fails the test instead of hanging it.
#include <map>

#include "remote_support.h"
#include "system_program.h"

namespace {

constexpr UINT kAnswerMs = 4000;  // a program that does not answer a request within this is hung
constexpr LRESULT kNoAnswer = -0x5EAD;
constexpr LONG kEndWindowDestroyed = 1;
constexpr LONG kEndCutOut = 3;

const wchar_t* OtherBitness() { return testing_support::kIs64Bit ? L"HookTarget32.exe" : L"HookTarget64.exe"; }

// A HookTarget.exe driven with time limits. Its windows are children made for each case (the main
// window only takes the requests); each window's kCounted messages are numbered from 0.
class Program {
 public:
  Program(const std::wstring& caption, const wchar_t* exe) : target_(caption, exe) {}

  bool ok() const { return target_.hwnd() != nullptr; }
  const Target& target() const { return target_; }
  // False once a request went unanswered or the program ended: nothing more is asked then.
  bool Healthy() const { return !hung_ && target_.Running(); }
  std::string State() const {
    if (!target_.Running()) return "the program ended (crashed)";
    return hung_ ? "the program stopped answering (hung)" : "the program answers";
  }

  LRESULT Ask(UINT request, HWND window = nullptr, LPARAM lp = 0) {
    if (!Healthy()) return kNoAnswer;
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(target_.hwnd(), request, reinterpret_cast<WPARAM>(window), lp, SMTO_NORMAL, kAnswerMs,
                             &r)) {
      hung_ = true;
      return kNoAnswer;
    }
    return static_cast<LRESULT>(r);
  }
  HWND NewWindow() { return reinterpret_cast<HWND>(Ask(kNewChild)); }

  // Sends the window its next numbered message; the window's own procedure answers 7.
  LRESULT SendCounted(HWND window) {
    if (!Healthy()) return kNoAnswer;
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(window, kCounted, next_[window], 0, SMTO_NORMAL, kAnswerMs, &r)) {
      if (IsWindow(window)) hung_ = true;
      return kNoAnswer;
    }
    ++next_[window];
    return static_cast<LRESULT>(r);
  }
  // Calls the pointer the program's keeper kept with the window's next number (as the keeper would
  // pass a message on): the window's own procedure answers 7.
  LRESULT CallKept(HWND window) {
    const LRESULT r = Ask(kCallKept, window, static_cast<LPARAM>(next_[window]));
    if (r != kNoAnswer) ++next_[window];
    return r;
  }
  WPARAM Next(HWND window) { return next_[window]; }
  LRESULT Exceptions() { return Ask(kQueryExceptions); }

 private:
  Target target_;
  bool hung_ = false;
  std::map<HWND, WPARAM> next_;
};

// The window's own procedure got each numbered message exactly once, in order.
void ExpectEachOnce(Program& p, HWND window, const std::string& when) {
  ASSERT_TRUE(p.Healthy()) << when << ": " << p.State();
  EXPECT_EQ(static_cast<LRESULT>(p.Next(window)), p.Ask(kCountedCount, window))
      << when << ": messages the window's own procedure got, of those sent";
  EXPECT_EQ(0, p.Ask(kCountedDisorder, window)) << when << ": first message out of order (place + 1)";
}

// The numbered messages a watcher captured, in order.
std::vector<LONG_PTR> Counted(const RecordingSink& sink) {
  std::vector<LONG_PTR> out;
  for (auto& g : sink.got)
    if (g.first == static_cast<LONG>(kCounted)) out.push_back(g.second);
  return out;
}

std::vector<LONG_PTR> Numbers(WPARAM from, WPARAM to) {
  std::vector<LONG_PTR> out;
  for (WPARAM i = from; i < to; ++i) out.push_back(static_cast<LONG_PTR>(i));
  return out;
}

// Waits for what the watcher captured to hold `n` numbered messages, and a little more (a message
// captured twice shows up then).
std::vector<LONG_PTR> AwaitCounted(const RecordingSink& sink, size_t n) {
  PumpUntil([&] { return Counted(sink).size() >= n; }, 3000);
  PumpUntil([] { return false; }, 200);
  return Counted(sink);
}

bool AwaitEnd(const com_ptr<_HookwireWindow>& w, LONG* why, int ms) {
  return PumpUntil([&] { return Ended(w, why); }, ms);
}

// A new watcher of the window captures each of a few messages exactly once, and the window's own
// procedure gets each exactly once, in order; the program stays well.
void WatchAgain(Program& p, HWND window, const std::string& after) {
  ASSERT_TRUE(p.Healthy()) << after << ": " << p.State();
  RecordingSink sink;
  HRESULT hr = E_FAIL;
  auto w = TryWatch(window, sink, &hr);
  ASSERT_EQ(S_OK, hr) << after << ": watching again: " << testing_support::LastErrorDescription();
  const WPARAM first = p.Next(window);
  const LRESULT handled = p.Ask(kCountedCount, window);
  for (int i = 0; i < 4 && p.Healthy(); ++i) {
    const LRESULT answer = p.SendCounted(window);
    if (p.Healthy()) {
      EXPECT_EQ(7, answer) << after << ", watched again: the window's own answer to message " << i;
    }
  }
  // (Also when the program hung or died: what was captured then shows what went round.)
  EXPECT_EQ(Numbers(first, first + 4), AwaitCounted(sink, 4)) << after << ", watched again: what was captured";
  ASSERT_TRUE(p.Healthy()) << after << ", watched again: " << p.State();
  // What the window's own procedure got meanwhile: those four, once each, in order.
  std::vector<LONG_PTR> got;
  for (LRESULT at = handled, end = p.Ask(kCountedCount, window); at >= 0 && at < end && got.size() < 16; ++at)
    got.push_back(static_cast<LONG_PTR>(p.Ask(kCountedAt, window, static_cast<LPARAM>(at))));
  EXPECT_EQ(Numbers(first, first + 4), got) << after << ", watched again: what the window's own procedure got";
  LONG why = 0;
  EXPECT_FALSE(Ended(w, &why)) << after << ", watched again: the capture ended, reason " << why;
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

// One whole capture first: what stays for good in a program (the pinned DLL, the pool's threads)
// is there then, and what the program holds afterwards is the measure of a leak.
Footprint Baseline(Program& p) {
  HWND first = p.NewWindow();
  {
    RecordingSink sink;
    HRESULT hr = E_FAIL;
    auto w = TryWatch(first, sink, &hr);
    EXPECT_EQ(S_OK, hr);
    p.SendCounted(first);
    w->put_Subclassed(VARIANT_FALSE);
  }
  p.SendCounted(first);
  PumpUntil([] { return false; }, 300);
  return Measure(p.target().process_handle());
}

// Waits for the program's capture buffers and handles to be back to `base`; what it holds then.
Footprint AwaitBaseline(Program& p, const Footprint& base, int ms) {
  Footprint now;
  PumpUntil([&] {
    now = Measure(p.target().process_handle());
    return now.views == base.views && now.handles <= base.handles;
  }, ms);
  return now;
}

// --- a pointer to our procedure that the program kept --------------------------------------------

// The watcher leaves while the program's keeper is above us; the keeper then comes off as it
// should (our procedure is on top again, and steps out), and the program calls what it kept.
void KeptAfterANormalLeave(const wchar_t* exe) {
  Program p(L"kept pointer after leave", exe);
  ASSERT_TRUE(p.ok());
  HWND c = p.NewWindow();
  RecordingSink sink;
  HRESULT hr = E_FAIL;
  auto w = TryWatch(c, sink, &hr);
  ASSERT_EQ(S_OK, hr);
  ASSERT_EQ(TRUE, p.Ask(kKeeperOn, c));  // keeps our procedure
  p.SendCounted(c);
  p.SendCounted(c);
  EXPECT_EQ(Numbers(0, 2), AwaitCounted(sink, 2));
  w->put_Subclassed(VARIANT_FALSE);
  w = nullptr;
  SendMessageTimeoutW(c, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerMs, nullptr);
  ASSERT_EQ(TRUE, p.Ask(kKeeperOff, c));  // ours on top again
  p.SendCounted(c);
  EXPECT_EQ(1, p.Ask(kIsOriginal, c)) << "our procedure did not step out once it was on top";
  EXPECT_EQ(7, p.CallKept(c)) << "the kept pointer did not reach the window's own procedure";
  ExpectEachOnce(p, c, "kept pointer called after a normal leave");
  EXPECT_TRUE(Counted(sink).size() == 2) << "captured after the watcher left";
  WatchAgain(p, c, "kept pointer called after a normal leave");
  EXPECT_EQ(0, p.Exceptions());
}

// The program's keeper is above us and the program puts back the window's original procedure: a
// cut-out. Then it calls what the keeper kept (our procedure).
void KeptAfterACutOut(const wchar_t* exe) {
  Program p(L"kept pointer after cut-out", exe);
  ASSERT_TRUE(p.ok());
  HWND c = p.NewWindow();
  RecordingSink sink;
  HRESULT hr = E_FAIL;
  auto w = TryWatch(c, sink, &hr);
  ASSERT_EQ(S_OK, hr);
  p.Ask(kKeeperOn, c);
  p.SendCounted(c);
  p.Ask(kRestoreOriginal, c);
  LONG why = 0;
  EXPECT_TRUE(AwaitEnd(w, &why, 5000)) << "the cut-out is not told";
  EXPECT_EQ(kEndCutOut, why);
  EXPECT_EQ(7, p.CallKept(c)) << "the kept pointer did not reach the window's own procedure";
  ExpectEachOnce(p, c, "kept pointer called after a cut-out");
  w->put_Subclassed(VARIANT_FALSE);
  w = nullptr;
  WatchAgain(p, c, "kept pointer called after a cut-out");
  EXPECT_EQ(0, p.Exceptions());
}

// The same window cut out twice: the first time the program's keeper was below us (it kept the
// original procedure), the second time above us (it kept ours). Then it calls what it kept last.
void KeptAfterTwoCutOuts(const wchar_t* exe) {
  Program p(L"kept pointer after two cut-outs", exe);
  ASSERT_TRUE(p.ok());
  HWND c = p.NewWindow();
  LONG why = 0;
  ASSERT_EQ(TRUE, p.Ask(kKeeperOn, c));  // before the first capture
  {
    RecordingSink sink;
    HRESULT hr = E_FAIL;
    auto w = TryWatch(c, sink, &hr);
    ASSERT_EQ(S_OK, hr);
    p.SendCounted(c);
    p.Ask(kRestoreOriginal, c);  // takes the keeper and us out
    EXPECT_TRUE(AwaitEnd(w, &why, 5000)) << "the first cut-out is not told";
    w->put_Subclassed(VARIANT_FALSE);
  }
  {
    RecordingSink sink;
    HRESULT hr = E_FAIL;
    auto w = TryWatch(c, sink, &hr);
    ASSERT_EQ(S_OK, hr);
    p.Ask(kKeeperOn, c);  // above us now: it keeps our procedure
    p.SendCounted(c);
    p.SendCounted(c);
    EXPECT_EQ(Numbers(1, 3), AwaitCounted(sink, 2));
    p.Ask(kRestoreOriginal, c);
    EXPECT_TRUE(AwaitEnd(w, &why, 5000)) << "the second cut-out is not told";
    EXPECT_EQ(kEndCutOut, why);
    w->put_Subclassed(VARIANT_FALSE);
  }
  EXPECT_EQ(7, p.CallKept(c)) << "the kept pointer did not reach the window's own procedure; " << p.State();
  ExpectEachOnce(p, c, "kept pointer called after two cut-outs");
  WatchAgain(p, c, "kept pointer called after two cut-outs");
  EXPECT_EQ(0, p.Exceptions());
}

// --- a stale procedure put back after a cut-out ----------------------------------------------------

// The program's keeper is above us; the program puts back the original (a cut-out), then puts its
// keeper back on top as it was: the keeper still passes messages to our procedure.
void StaleKeeperBack(const wchar_t* exe) {
  Program p(L"stale keeper back", exe);
  ASSERT_TRUE(p.ok());
  HWND c = p.NewWindow();
  RecordingSink sink;
  HRESULT hr = E_FAIL;
  auto w = TryWatch(c, sink, &hr);
  ASSERT_EQ(S_OK, hr);
  p.SendCounted(c);
  p.SendCounted(c);
  p.Ask(kKeeperOn, c);
  p.SendCounted(c);
  p.SendCounted(c);
  EXPECT_EQ(Numbers(0, 4), AwaitCounted(sink, 4));
  p.Ask(kRestoreOriginal, c);
  LONG why = 0;
  EXPECT_TRUE(AwaitEnd(w, &why, 5000)) << "the cut-out is not told";
  EXPECT_EQ(kEndCutOut, why);
  w->put_Subclassed(VARIANT_FALSE);
  w = nullptr;
  p.Ask(kKeeperAgain, c);  // keeper -> our procedure -> ...
  p.SendCounted(c);
  p.SendCounted(c);
  ExpectEachOnce(p, c, "stale keeper put back");
  WatchAgain(p, c, "stale keeper put back");
  EXPECT_EQ(0, p.Exceptions());
}

// After a cut-out the program "takes its keeper off" with the pointer the keeper kept: our
// procedure is on top of the window again, put there by the program.
void OursPutBackOnTop(const wchar_t* exe) {
  Program p(L"ours put back on top", exe);
  ASSERT_TRUE(p.ok());
  HWND c = p.NewWindow();
  RecordingSink sink;
  HRESULT hr = E_FAIL;
  auto w = TryWatch(c, sink, &hr);
  ASSERT_EQ(S_OK, hr);
  p.Ask(kKeeperOn, c);
  p.Ask(kRestoreOriginal, c);
  LONG why = 0;
  EXPECT_TRUE(AwaitEnd(w, &why, 5000)) << "the cut-out is not told";
  EXPECT_EQ(kEndCutOut, why);
  w->put_Subclassed(VARIANT_FALSE);
  w = nullptr;
  p.Ask(kKeeperOff, c);  // our procedure, on top
  p.SendCounted(c);
  p.SendCounted(c);
  ExpectEachOnce(p, c, "our procedure put back on top");
  WatchAgain(p, c, "our procedure put back on top");
  EXPECT_EQ(0, p.Exceptions());
}

void SwallowNullAboveUs(const wchar_t* exe) {
  Program p(L"swallows null", exe);
  ASSERT_TRUE(p.ok());
  HWND c = p.NewWindow();
  RecordingSink sink;
  HRESULT hr = E_FAIL;
  auto w = TryWatch(c, sink, &hr);
  ASSERT_EQ(S_OK, hr);
  for (int i = 0; i < 3; ++i) p.SendCounted(c);
  EXPECT_EQ(Numbers(0, 3), AwaitCounted(sink, 3));
  ASSERT_EQ(TRUE, p.Ask(kSwallowNullOn, c));
  PumpUntil([] { return false; }, 1500);  // the subclass stays over more than one look
  for (int i = 0; i < 3; ++i) p.SendCounted(c);
  EXPECT_EQ(Numbers(0, 6), AwaitCounted(sink, 6)) << "what was captured with the subclass above ours";
  LONG why = 0;
  EXPECT_FALSE(Ended(w, &why)) << "the capture was ended, reason " << why;
  ExpectEachOnce(p, c, "a subclass that answers WM_NULL above ours");
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
  w = nullptr;
  WatchAgain(p, c, "a subclass that answers WM_NULL itself still above ours");
  ASSERT_EQ(TRUE, p.Ask(kSwallowNullOff, c));
  WatchAgain(p, c, "a subclass that answered WM_NULL itself taken off");
  EXPECT_EQ(0, p.Exceptions());
}

void Resubclassed(const wchar_t* exe) {
  Program p(L"resubclassed", exe);
  ASSERT_TRUE(p.ok());
  const Footprint base = Baseline(p);
  HWND c = p.NewWindow();
  RecordingSink sink;
  HRESULT hr = E_FAIL;
  auto w = TryWatch(c, sink, &hr);
  ASSERT_EQ(S_OK, hr);
  p.Ask(kKeeperOn, c);
  PumpUntil([] { return false; }, 1500);  // looked at and found passing messages on
  p.SendCounted(c);
  p.SendCounted(c);
  EXPECT_EQ(Numbers(0, 2), AwaitCounted(sink, 2));
  p.Ask(kRestoreOriginal, c);  // takes us out of the chain ...
  p.Ask(kKeeperOn, c);         // ... and subclasses again: keeper -> original
  p.SendCounted(c);
  p.SendCounted(c);
  LONG why = 0;
  EXPECT_TRUE(AwaitEnd(w, &why, 5000)) << "the cut-out is not told";
  EXPECT_EQ(kEndCutOut, why);
  EXPECT_EQ(Numbers(0, 2), Counted(sink)) << "captured out of the chain";
  ExpectEachOnce(p, c, "resubclassed");
  w->put_Subclassed(VARIANT_FALSE);
  w = nullptr;
  const Footprint end = AwaitBaseline(p, base, 3000);
  EXPECT_EQ(base.views, end.views) << "capture buffers still mapped in the program";
  EXPECT_LE(end.handles, base.handles) << "handles left in the program";
  WatchAgain(p, c, "resubclassed");
  EXPECT_EQ(0, p.Exceptions());
}

void UnsubclassedAndDestroyed(const wchar_t* exe) {
  Program p(L"unsubclassed and destroyed", exe);
  ASSERT_TRUE(p.ok());
  const Footprint base = Baseline(p);
  const int n = 4;
  std::vector<HWND> windows;
  std::vector<std::unique_ptr<RecordingSink>> sinks;
  std::vector<com_ptr<_HookwireWindow>> ws;
  for (int i = 0; i < n; ++i) {
    windows.push_back(p.NewWindow());
    ASSERT_EQ(TRUE, p.Ask(kKeeperOn, windows.back()));  // the program's own, before the capture
    sinks.push_back(std::make_unique<RecordingSink>());
    HRESULT hr = E_FAIL;
    ws.push_back(TryWatch(windows.back(), *sinks.back(), &hr));
    ASSERT_EQ(S_OK, hr) << "window " << i;
    p.SendCounted(windows.back());
  }
  for (int i = 0; i < n; ++i) EXPECT_EQ(Numbers(0, 1), AwaitCounted(*sinks[i], 1)) << "window " << i;
  const Footprint during = Measure(p.target().process_handle());
  for (HWND c : windows) EXPECT_EQ(TRUE, p.Ask(kKeeperOffAndDestroy, c));
  std::vector<LONG> whys(n);
  int told = 0;
  PumpUntil([&] {
    told = 0;
    for (int i = 0; i < n; ++i) told += Ended(ws[i], &whys[i]);
    return told == n;
  }, 4000);
  EXPECT_EQ(n, told) << "captures told they ended";
  for (int i = 0; i < n; ++i) {
    if (Ended(ws[i], &whys[i])) {
      EXPECT_TRUE(whys[i] == kEndWindowDestroyed || whys[i] == kEndCutOut) << "window " << i << ": reason " << whys[i];
    }
  }
  for (auto& w : ws) w->put_Subclassed(VARIANT_FALSE);
  ws.clear();
  const Footprint end = AwaitBaseline(p, base, 3000);
  EXPECT_EQ(base.views, end.views) << "capture buffers still mapped in the program (" << during.views
                                   << " while watched)";
  EXPECT_LE(end.handles, base.handles) << "handles left in the program (" << during.handles << " while watched)";
  EXPECT_EQ(0, p.Exceptions());
}

void KeptAfterManyOtherCutOuts(const wchar_t* exe) {
  Program p(L"many cut-outs", exe);
  ASSERT_TRUE(p.ok());
  HWND early = p.NewWindow();
  {
    RecordingSink sink;
    HRESULT hr = E_FAIL;
    auto w = TryWatch(early, sink, &hr);
    ASSERT_EQ(S_OK, hr);
    p.Ask(kKeeperOn, early);  // keeps our procedure
    p.Ask(kRestoreOriginal, early);
    LONG why = 0;
    ASSERT_TRUE(AwaitEnd(w, &why, 5000)) << "the cut-out is not told";
    w->put_Subclassed(VARIANT_FALSE);
  }
  EXPECT_EQ(7, p.CallKept(early)) << "right after the cut-out";
  const int per_round = 65, rounds = 2;
  std::vector<HWND> others;
  for (int i = 0; i < per_round; ++i) others.push_back(p.NewWindow());
  int cut = 0;
  for (int round = 0; round < rounds; ++round) {
    std::vector<std::unique_ptr<RecordingSink>> sinks;
    std::vector<com_ptr<_HookwireWindow>> ws;
    for (HWND o : others) {
      sinks.push_back(std::make_unique<RecordingSink>());
      HRESULT hr = E_FAIL;
      ws.push_back(TryWatch(o, *sinks.back(), &hr));
      ASSERT_EQ(S_OK, hr) << "round " << round << ": " << testing_support::LastErrorDescription();
    }
    for (HWND o : others) p.Ask(kRestoreOriginal, o);
    int told = 0;
    PumpUntil([&] {
      told = 0;
      LONG why = 0;
      for (auto& w : ws) told += Ended(w, &why);
      return told == per_round;
    }, 15000);
    EXPECT_EQ(per_round, told) << "round " << round << ": cut-outs told";
    cut += told;
    for (auto& w : ws) w->put_Subclassed(VARIANT_FALSE);
  }
  EXPECT_GE(cut, 130);
  EXPECT_EQ(7, p.CallKept(early)) << "after " << cut << " other windows were cut out: " << p.State();
  ExpectEachOnce(p, early, "kept pointer called after many other cut-outs");
  WatchAgain(p, early, "kept pointer called after many other cut-outs");
  EXPECT_EQ(0, p.Exceptions());
}

}  // namespace

// A program's subclass that kept a pointer to our procedure calls it after the capture: the call
// reaches the window's own procedure, once, however the capture ended.
TEST(ProgramChain, AKeptPointerReachesTheWindowsOwnProcedure) {
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << "target " << exe);
    {
      SCOPED_TRACE("after a normal leave");
      KeptAfterANormalLeave(exe);
    }
    {
      SCOPED_TRACE("after a cut-out");
      KeptAfterACutOut(exe);
    }
    {
      SCOPED_TRACE("after two cut-outs");
      KeptAfterTwoCutOuts(exe);
    }
  }
}

// A window whose program cut us out and then put back a procedure that still passes messages to
// ours (its stale subclass, or our procedure itself) is watched again: nothing goes round in
// circles, and each message is captured and handled once.
TEST(ProgramChain, AWindowWithAStaleProcedureBackIsWatchedAgain) {
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << "target " << exe);
    {
      SCOPED_TRACE("its stale subclass put back");
      StaleKeeperBack(exe);
    }
    {
      SCOPED_TRACE("our procedure put back on top");
      OursPutBackOnTop(exe);
    }
  }
}

// A subclass above ours that answers WM_NULL itself but passes every other message on: our
// procedure still gets the window's messages, so the capture goes on.
TEST(ProgramChain, ASubclassThatAnswersWmNullItselfIsNoCutOut) {
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << "target " << exe);
    SwallowNullAboveUs(exe);
  }
}

// The program's keeper is above us; the program puts back the original procedure and subclasses
// again at once with the same keeper: the window's procedure is the same as before, but we are no
// longer in its chain. That is a cut-out: told, and the program keeps nothing of the capture.
TEST(ProgramChain, ResubclassingWithTheSameProcedureIsACutOut) {
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << "target " << exe);
    Resubclassed(exe);
  }
}

// A program takes its own subclass (made before the capture) off in the window's last moments and
// destroys the window at once: our procedure never sees the window go. The watchers are told, and
// the program lets go of every capture buffer and handle.
TEST(ProgramChain, TakingItsSubclassOffAndDestroyingTheWindowLeavesNothing) {
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << "target " << exe);
    UnsubclassedAndDestroyed(exe);
  }
}

// A window cut out early, whose program keeps calling our procedure through a pointer it kept, while
// many other windows of the program are cut out later: the early window's calls still reach its own
// procedure.
// (A program of the other bitness is watched through the companion, a few times slower: this
// bitness only.)
TEST(ProgramChain, AKeptPointerStillWorksAfterManyOtherCutOuts) { KeptAfterManyOtherCutOuts(L"HookTarget.exe"); }

// A program that keeps the procedure it replaced in one window (ours, while it is watched) in one
// global and hands the messages of another window to it: that window's messages go down the chain
// they would have gone unwatched (through the first window's own layer, which serves any window, to
// the second window's procedure), and the watched one's capture goes on.
TEST(ProgramChain, OneKeptPointerForTwoWindowsServesBoth) {
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << "target " << std::wstring(exe).c_str());
    Program p(L"shared keeper target", exe);
    ASSERT_TRUE(p.ok());
    HWND a = p.NewWindow(), b = p.NewWindow();
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(p.Ask(kTallyOn, a) && p.Ask(kTallyOn, b));
    RecordingSink sink;
    HRESULT hr = E_FAIL;
    auto w = TryWatch(a, sink, &hr);
    ASSERT_EQ(S_OK, hr) << testing_support::LastErrorDescription();
    ASSERT_EQ(1, p.Ask(kSharedKeeperOn, a, reinterpret_cast<LPARAM>(b)));
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(7, p.SendCounted(b)) << "the other window's own answer to message " << i;
      EXPECT_EQ(7, p.SendCounted(a)) << "the watched window's own answer to message " << i;
    }
    ExpectEachOnce(p, b, "the other window");
    ExpectEachOnce(p, a, "the watched window");
    EXPECT_EQ(3, p.Ask(kTallyCount, b)) << "the other window's messages that went through the layer below ours";
    EXPECT_EQ(3, p.Ask(kTallyCount, a)) << "the watched window's messages that went through its own layer";
    EXPECT_EQ(Numbers(0, 3), AwaitCounted(sink, 3)) << "what was captured of the watched window";
    w->put_Subclassed(VARIANT_FALSE);
  }
}

// A window whose thread ends inside its own procedure while it is watched: the watcher is told the
// window went, and the program lets go of the capture (a thread that never returns to our procedure
// used to keep the buffer and four handles for good, and after 128 such windows the program could
// not be watched any more).
TEST(ProgramChain, AThreadEndingInsideItsWindowsProcedureLeavesNothing) {
  for (const wchar_t* exe : {L"HookTarget.exe", OtherBitness()}) {
    SCOPED_TRACE(testing::Message() << "target " << std::wstring(exe).c_str());
    Program p(L"thread ends target", exe);
    ASSERT_TRUE(p.ok());
    const Footprint base = Baseline(p);
    for (int round = 0; round < 3; ++round) {
      HWND t = reinterpret_cast<HWND>(p.Ask(kThreadWindow));
      ASSERT_TRUE(t) << "round " << round;
      RecordingSink sink;
      HRESULT hr = E_FAIL;
      auto w = TryWatch(t, sink, &hr);
      ASSERT_EQ(S_OK, hr) << "round " << round << ": " << testing_support::LastErrorDescription();
      SendMessageTimeoutW(t, WM_USER + 0x7100, 1, 0, SMTO_NORMAL, kAnswerMs, nullptr);
      EXPECT_TRUE(PumpUntil([&] { return !sink.got.empty(); }, 3000)) << "round " << round << ": nothing captured";
      PostMessageW(t, kEndThread, 0, 0);
      LONG why = 0;
      EXPECT_TRUE(AwaitEnd(w, &why, 5000)) << "round " << round << ": the end is not told";
      EXPECT_EQ(kEndWindowDestroyed, why) << "round " << round;
      w->put_Subclassed(VARIANT_FALSE);
    }
    const Footprint end = AwaitBaseline(p, base, 4000);
    EXPECT_EQ(base.views, end.views) << "capture buffers still mapped in the program";
    EXPECT_LE(end.handles, base.handles) << "handles left in the program";
    EXPECT_TRUE(p.Healthy()) << p.State();
  }
}
