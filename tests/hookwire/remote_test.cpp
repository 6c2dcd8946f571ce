// Watching windows of other programs: their messages are captured inside their program and
// reach the sink on this thread, in the target's order, without the target ever waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "capture_ring.h"
#include "system_program.h"
#include "test_window.h"

using common::com_ptr;
using testing_support::NewHookwireWindow;
using testing_support::Sink;

namespace {

constexpr UINT kDump = WM_USER + 0x7FFE;
constexpr UINT kQueryProc = WM_USER + 0x7FF0;
constexpr UINT kSubclassSelf = WM_USER + 0x7FF1;
constexpr UINT kUnsubclassSelf = WM_USER + 0x7FF2;
constexpr LONG kAll = 0xFFFF;
using Clock = std::chrono::steady_clock;

std::wstring BinDir() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring s(buf, n);
  return s.substr(0, s.find_last_of(L"\\/") + 1);
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Dispatches this thread's messages until pred holds or the time is up.
template <typename Pred>
bool PumpUntil(Pred pred, int timeout_ms) {
  auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!pred()) {
    if (Clock::now() > end) return false;
    MSG m;
    if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    else MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

class Process {
 public:
  Process(const std::wstring& exe, const std::wstring& args) {
    std::wstring cmd = L"\"" + BinDir() + exe + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    ok_ = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
  }
  ~Process() { Kill(); }
  bool ok() const { return ok_; }
  void Kill() {
    if (!ok_) return;
    TerminateProcess(pi_.hProcess, 1);
    WaitForSingleObject(pi_.hProcess, 5000);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
    ok_ = false;
  }
  bool Running() const { return ok_ && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
  HANDLE handle() const { return pi_.hProcess; }

 private:
  PROCESS_INFORMATION pi_{};
  bool ok_ = false;
};

// A HookTarget.exe with a window of its own; its log says what its window procedure handled.
class Target {
 public:
  explicit Target(const std::wstring& caption) : caption_(caption) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    log_ = std::wstring(tmp) + caption + L".log";
    process_ = std::make_unique<Process>(L"HookTarget.exe", L"\"" + caption + L"\" \"" + log_ + L"\"");
    PumpUntil([&] { return (hwnd_ = FindWindowW(L"HookTargetWindow", caption_.c_str())) != nullptr; }, 15000);
  }
  ~Target() { Kill(); }
  HWND hwnd() const { return hwnd_; }
  LONG handle() const { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(hwnd_)); }
  void Kill() { process_->Kill(); }
  bool Running() const { return process_->Running(); }
  // The window procedure the target's window has now, as the target itself reads it.
  LRESULT Proc() const { return SendMessageW(hwnd_, kQueryProc, 0, 0); }
  HANDLE process_handle() const { return process_->handle(); }
  // (message, wParam) pairs the target handled, in order.
  std::vector<std::pair<LONG, LONG_PTR>> Log() {
    std::vector<std::pair<LONG, LONG_PTR>> out;
    if (SendMessageW(hwnd_, kDump, 0, 0) < 0) return out;
    std::string path(log_.begin(), log_.end());
    std::ifstream f(path);
    long m = 0;
    long long w = 0;
    while (f >> m >> w) out.emplace_back(m, static_cast<LONG_PTR>(w));
    return out;
  }

 private:
  std::wstring caption_, log_;
  std::unique_ptr<Process> process_;

  HWND hwnd_ = nullptr;
};

// A sink that keeps (message, wParam) of the test's own messages (WM_USER .. kDump).
struct RecordingSink : Sink {
  std::vector<std::pair<LONG, LONG_PTR>> got;
  RecordingSink() {
    handler = [this](LONG msg, LONG_PTR wp, LONG_PTR, LONG_PTR* result) {
      if (msg >= static_cast<LONG>(WM_USER) && msg < static_cast<LONG>(kDump)) got.emplace_back(msg, wp);
      *result = 99;  // ignored for another program's window
      return S_OK;
    };
  }
};

com_ptr<_HookwireWindow> Watch(LONG hwnd, Sink& sink) {
  com_ptr<_HookwireWindow> w = NewHookwireWindow();
  EXPECT_EQ(S_OK, w->put_hWnd(hwnd));
  VARIANT_BOOL cannot = VARIANT_TRUE;
  EXPECT_EQ(S_OK, w->get_CannotSubclass(&cannot));
  EXPECT_EQ(VARIANT_FALSE, cannot);
  EXPECT_EQ(S_OK, w->put_WatchMessage(kAll, VARIANT_TRUE));
  EXPECT_EQ(S_OK, w->putref_MessageSink(&sink));
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE));
  return w;
}

}  // namespace

TEST(Remote, SentAndPostedMessagesArriveInTheOrderTheTargetHandledThem) {
  Target t(L"hook target order");
  ASSERT_TRUE(t.hwnd());
  RecordingSink sink;
  auto w = Watch(t.handle(), sink);
  for (int i = 0; i < 200; ++i) {
    if (i % 3 == 0) PostMessageW(t.hwnd(), WM_USER + 1, static_cast<WPARAM>(i), 0);
    else EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 2, static_cast<WPARAM>(i), 0))
        << "the target's own answer, not the sink's result";
  }
  ASSERT_TRUE(PumpUntil([&] { return sink.got.size() >= 200; }, 20000)) << sink.got.size();
  auto log = t.Log();
  log.erase(std::remove_if(log.begin(), log.end(), [](auto& e) { return e.first == static_cast<LONG>(kDump); }),
            log.end());
  EXPECT_EQ(log, sink.got);
  EXPECT_EQ(67, std::count_if(sink.got.begin(), sink.got.end(), [](auto& e) { return e.first == WM_USER + 1; }));

  LONG_PTR r = 0;
  EXPECT_EQ(static_cast<HRESULT>(0x800A0005), w->CallPrevWndProc(WM_USER + 2, 0, 0, &r));
  EXPECT_NE(std::wstring::npos, testing_support::LastErrorDescription().find(L"another"));
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
  size_t before = sink.got.size();
  SendMessageW(t.hwnd(), WM_USER + 2, 0, 0);
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(before, sink.got.size()) << "nothing arrives once capture is off";
}

TEST(Remote, TenThousandMessagesNoneLostNoneDuplicated) {
  Target t(L"hook target ten thousand");
  ASSERT_TRUE(t.hwnd());
  RecordingSink sink;
  auto w = Watch(t.handle(), sink);
  const int n = 10000;
  auto start = Clock::now();
  // From another thread of this program, as the target's messages come from anywhere: this
  // thread takes them meanwhile.
  HWND target = t.hwnd();
  std::thread sender([&] {
    for (int i = 0; i < n; ++i) {
      if (i % 4 == 0) PostMessageW(target, WM_USER + 3, static_cast<WPARAM>(i), 0);
      else SendMessageW(target, WM_USER + 3, static_cast<WPARAM>(i), 0);
    }
  });
  const bool all = PumpUntil([&] { return sink.got.size() >= static_cast<size_t>(n); }, 60000);
  sender.join();
  ASSERT_TRUE(all) << sink.got.size();
  double ms = Ms(Clock::now() - start);
  std::vector<LONG_PTR> seen;
  for (auto& e : sink.got) seen.push_back(e.second);
  std::vector<LONG_PTR> sorted = seen;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted.end(), std::adjacent_find(sorted.begin(), sorted.end())) << "a message arrived twice";
  ASSERT_EQ(static_cast<size_t>(n), sorted.size());
  EXPECT_EQ(0, sorted.front());
  EXPECT_EQ(n - 1, sorted.back());
  auto log = t.Log();
  std::vector<LONG_PTR> handled;
  for (auto& e : log)
    if (e.first == WM_USER + 3) handled.push_back(e.second);
  EXPECT_EQ(handled, seen) << "the sink saw the target's order";
  std::printf("[ figures  ] %d messages from another process in %.0f ms: %.0f messages/s\n", n, ms, n * 1000.0 / ms);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

TEST(Remote, TwoWatchersOnTwoTargetsDoNotMixTheirMessages) {
  Target a(L"hook target a"), b(L"hook target b");
  ASSERT_TRUE(a.hwnd());
  ASSERT_TRUE(b.hwnd());
  RecordingSink sa, sb;
  auto wa = Watch(a.handle(), sa);
  auto wb = Watch(b.handle(), sb);
  for (int i = 0; i < 20; ++i) {
    SendMessageW(a.hwnd(), WM_USER + 10, static_cast<WPARAM>(i), 0);
    PostMessageW(b.hwnd(), WM_USER + 20, static_cast<WPARAM>(i), 0);
  }
  ASSERT_TRUE(PumpUntil([&] { return sa.got.size() >= 20 && sb.got.size() >= 20; }, 10000));
  testing_support::PumpMessages();
  EXPECT_EQ(20u, sa.got.size());
  EXPECT_EQ(20u, sb.got.size());
  for (auto& e : sa.got) EXPECT_EQ(WM_USER + 10, e.first);
  for (auto& e : sb.got) EXPECT_EQ(WM_USER + 20, e.first);
}

TEST(Remote, KillingTheTargetLeavesTheSpyWorking) {
  RecordingSink sink;
  com_ptr<_HookwireWindow> w;
  {
    Target t(L"hook target killed");
    ASSERT_TRUE(t.hwnd());
    w = Watch(t.handle(), sink);
    SendMessageW(t.hwnd(), WM_USER + 4, 1, 0);
    t.Kill();
  }
  LONG h = -1;
  EXPECT_TRUE(PumpUntil([&] { return w->get_hWnd(&h) == S_OK && h == 0; }, 5000)) << "a dead window reads 0";
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
  // The same object and sink go on with another program.
  Target t2(L"hook target after kill");
  ASSERT_TRUE(t2.hwnd());
  sink.got.clear();
  ASSERT_EQ(S_OK, w->put_hWnd(t2.handle()));
  ASSERT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE));
  SendMessageW(t2.hwnd(), WM_USER + 5, 2, 0);
  EXPECT_TRUE(PumpUntil([&] { return !sink.got.empty(); }, 5000));
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}


// Runs HookSpy.exe, a spy in a process of its own, on the target; "hang" makes it stop pumping.
std::unique_ptr<Process> StartSpy(const Target& t, const wchar_t* tag, bool hang) {
  std::wstring event = std::wstring(L"HookSpyReady.") + tag;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
  wchar_t arg[96];
  std::swprintf(arg, 96, L"%lX %ls%ls", static_cast<unsigned long>(t.handle()), event.c_str(), hang ? L" hang" : L"");
  auto spy = std::make_unique<Process>(L"HookSpy.exe", arg);
  const bool ok = spy->ok() && WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0;
  CloseHandle(ready);
  if (!ok) spy.reset();
  return spy;
}

// Microseconds per message sent to the target from this process.
double CostPerMessage(const Target& t, int n) {
  auto start = Clock::now();
  for (int i = 0; i < n; ++i) SendMessageW(t.hwnd(), WM_USER + 8, static_cast<WPARAM>(i), 0);
  return Ms(Clock::now() - start) * 1000.0 / n;
}

TEST(Remote, KillingTheSpyLeavesTheTargetAsItWas) {
  Target t(L"hook target of a killed spy");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  auto spy = StartSpy(t, L"kill", false);
  ASSERT_TRUE(spy);
  EXPECT_NE(original, t.Proc()) << "the spy watches from inside the target";
  spy->Kill();
  // The target looks after its watchers about once a second, at its next message.
  Sleep(1200);
  DWORD_PTR r = 0;
  ASSERT_TRUE(SendMessageTimeoutW(t.hwnd(), WM_USER + 6, 0, 0, SMTO_ABORTIFHUNG, 2000, &r));
  EXPECT_EQ(7u, r);
  EXPECT_EQ(original, t.Proc()) << "the dead spy's subclass is gone from the target";
}

// A spy that stops taking messages costs its target nothing: no wait, whatever the spy does.
TEST(Remote, AHungSpyNeverMakesTheTargetWait) {
  Target t(L"hook target of a hung spy");
  ASSERT_TRUE(t.hwnd());
  const int n = 20000;  // more than the buffer holds
  CostPerMessage(t, 500);
  const double bare = CostPerMessage(t, n);
  auto spy = StartSpy(t, L"hang", true);
  ASSERT_TRUE(spy);
  const double hung = CostPerMessage(t, n);
  std::printf("[ figures  ] per message sent to a target: %.1f us bare, %.1f us while its spy hangs\n", bare, hung);
  EXPECT_LT(hung, bare * 2 + 5) << "the target waited on its spy";
  EXPECT_TRUE(t.Running());
}

// The program subclasses its window after us: leaving must not cut its subclass out. We stay in
// its chain as a pass-through and step out once the program takes its own subclass off.
TEST(Remote, TheTargetIsLeftAsItWasEvenWhenItSubclassedAfterUs) {
  Target t(L"hook target subclassing itself");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  RecordingSink sink;
  auto w = Watch(t.handle(), sink);
  const LRESULT ours = t.Proc();
  ASSERT_NE(original, ours);
  const LRESULT own = SendMessageW(t.hwnd(), kSubclassSelf, 0, 0);
  ASSERT_EQ(own, t.Proc());
  ASSERT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
  EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 2, 1, 0));
  EXPECT_EQ(own, t.Proc()) << "the program's own subclass stays on top";
  SendMessageW(t.hwnd(), kUnsubclassSelf, 0, 0);
  EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 2, 2, 0)) << "its messages still reach its procedure";
  EXPECT_EQ(original, t.Proc()) << "back to the procedure it had before anyone watched";
  auto log = t.Log();
  EXPECT_EQ(2, std::count_if(log.begin(), log.end(), [](auto& e) { return e.first == WM_USER + 2; }));

  // Without a subclass of its own, leaving restores it at once.
  auto again = Watch(t.handle(), sink);
  EXPECT_NE(original, t.Proc());
  ASSERT_EQ(S_OK, again->put_Subclassed(VARIANT_FALSE));
  EXPECT_EQ(original, t.Proc());
}

// What a sink can read on the window object while each message is handed to it.
struct Detail {
  LONG msg = 0;
  LONG_PTR wp = 0;
  LONG origin = -1;
  bool known = false;
  LONGLONG result = 0;
  LONG kind = 0;
  std::vector<LONGLONG> values;
  std::wstring text;
  std::vector<BYTE> bytes;
  LONG lost_before = 0;
  double ms = 0;
  DATE time = 0;
  bool target64 = false;
};

struct DetailSink : Sink {
  std::vector<Detail> got;
  com_ptr<IhkMessageDetails> info;
  DetailSink() {
    handler = [this](LONG msg, LONG_PTR wp, LONG_PTR, LONG_PTR*) {
      Detail d;
      d.msg = msg;
      d.wp = wp;
      VARIANT_BOOL b = VARIANT_FALSE;
      EXPECT_EQ(S_OK, info->get_Delivering(&b));
      EXPECT_EQ(VARIANT_TRUE, b);
      info->get_Origin(&d.origin);
      info->get_ResultKnown(&b);
      d.known = b != VARIANT_FALSE;
      info->get_Result(&d.result);
      info->get_DataKind(&d.kind);
      LONG count = 0;
      info->get_DataCount(&count);
      for (LONG i = 0; i < count; ++i) {
        LONGLONG v = 0;
        EXPECT_EQ(S_OK, info->get_DataValue(i, &v));
        d.values.push_back(v);
      }
      BSTR text = nullptr;
      if (info->get_DataText(&text) == S_OK && text) d.text.assign(text, SysStringLen(text));
      SysFreeString(text);
      VARIANT bytes;
      VariantInit(&bytes);
      if (info->get_DataBytes(&bytes) == S_OK && bytes.vt == (VT_ARRAY | VT_UI1)) {
        void* data = nullptr;
        SafeArrayAccessData(bytes.parray, &data);
        d.bytes.assign(static_cast<BYTE*>(data), static_cast<BYTE*>(data) + bytes.parray->rgsabound[0].cElements);
        SafeArrayUnaccessData(bytes.parray);
      }
      VariantClear(&bytes);
      info->get_LostBefore(&d.lost_before);
      info->get_Milliseconds(&d.ms);
      info->get_Time(&d.time);
      info->get_Target64Bit(&b);
      d.target64 = b != VARIANT_FALSE;
      got.push_back(std::move(d));
      return S_OK;
    };
  }
  const Detail* Find(LONG msg, size_t from = 0) const {
    for (size_t i = from; i < got.size(); ++i)
      if (got[i].msg == msg) return &got[i];
    return nullptr;
  }
};

com_ptr<_HookwireWindow> WatchWithDetails(LONG hwnd, DetailSink& sink) {
  auto w = Watch(hwnd, sink);
  sink.info = w.query<IhkMessageDetails>(IID_IhkMessageDetails);
  EXPECT_TRUE(sink.info);
  return w;
}

DATE NowLocal() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  DATE d = 0;
  SystemTimeToVariantTime(&st, &d);
  return d;
}

TEST(Remote, ReturnValuesOriginAndTheDataParametersPointTo) {
  Target t(L"hook target details");
  ASSERT_TRUE(t.hwnd());
  DetailSink sink;
  auto w = WatchWithDetails(t.handle(), sink);
  ASSERT_TRUE(sink.info);
  VARIANT_BOOL delivering = VARIANT_TRUE;
  EXPECT_EQ(S_OK, sink.info->get_Delivering(&delivering));
  EXPECT_EQ(VARIANT_FALSE, delivering);
  double ms = 0;
  EXPECT_EQ(static_cast<HRESULT>(0x800A0005), sink.info->get_Milliseconds(&ms)) << "no message, no details";

  EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 2, 5, 0));
  PostMessageW(t.hwnd(), WM_USER + 1, 6, 0);
  EXPECT_EQ(TRUE, SendMessageW(t.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"caption from the test")));
  wchar_t buf[64] = {};
  const LRESULT got_chars = SendMessageW(t.hwnd(), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(buf));
  EXPECT_EQ(std::wstring(L"caption from the test"), buf);
  char payload[] = "abcde";
  COPYDATASTRUCT cds{0x77, 5, payload};
  SendMessageW(t.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
  SetWindowPos(t.hwnd(), nullptr, 10, 20, 300, 200, SWP_NOZORDER | SWP_NOACTIVATE);
  ASSERT_TRUE(PumpUntil([&] { return sink.Find(WM_WINDOWPOSCHANGED) != nullptr; }, 10000));

  const Detail* sent = sink.Find(WM_USER + 2);
  ASSERT_TRUE(sent);
  EXPECT_TRUE(sent->known);
  EXPECT_EQ(7, sent->result) << "the target's answer";
  EXPECT_EQ(ISMEX_SEND, sent->origin & ISMEX_SEND) << "sent by another thread, as the target saw it";
  const Detail* posted = sink.Find(WM_USER + 1);
  ASSERT_TRUE(posted);
  EXPECT_EQ(0, posted->origin) << "taken from the target's queue";
  const Detail* settext = sink.Find(WM_SETTEXT);
  ASSERT_TRUE(settext);
  EXPECT_EQ(1, settext->kind);
  EXPECT_EQ(L"caption from the test", settext->text);
  EXPECT_EQ(TRUE, settext->result);
  const Detail* gettext = sink.Find(WM_GETTEXT);
  ASSERT_TRUE(gettext);
  EXPECT_EQ(L"caption from the test", gettext->text) << "the text the window handed back";
  EXPECT_EQ(got_chars, gettext->result);
  const Detail* copy = sink.Find(WM_COPYDATA);
  ASSERT_TRUE(copy);
  EXPECT_EQ(9, copy->kind);
  EXPECT_EQ((std::vector<LONGLONG>{0x77, 5}), copy->values);
  EXPECT_EQ((std::vector<BYTE>{'a', 'b', 'c', 'd', 'e'}), copy->bytes);
  const Detail* pos = sink.Find(WM_WINDOWPOSCHANGING);
  ASSERT_TRUE(pos);
  EXPECT_EQ(3, pos->kind);
  ASSERT_EQ(7u, pos->values.size());
  EXPECT_EQ((std::vector<LONGLONG>{10, 20, 300, 200}), std::vector<LONGLONG>(pos->values.begin() + 2, pos->values.begin() + 6));

  double last = 0;
  for (const Detail& d : sink.got) {
    EXPECT_GE(d.ms, last) << "time stamps in the target's order";
    last = d.ms;
    EXPECT_LT(std::abs(d.time - NowLocal()), 60.0 / 86400) << "the clock time of the moment";
    EXPECT_EQ(testing_support::kIs64Bit, d.target64);
  }
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

TEST(Remote, WindowsOfTheClientsOwnThreadGetTheSameDetails) {
  testing_support::TestWindow own;
  DetailSink sink;
  auto w = WatchWithDetails(own.handle(), sink);
  ASSERT_TRUE(sink.info);
  SendMessageW(own.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"own thread"));
  const Detail* d = sink.Find(WM_SETTEXT);
  ASSERT_TRUE(d);
  EXPECT_EQ(1, d->kind);
  EXPECT_EQ(L"own thread", d->text);
  EXPECT_EQ(0, d->origin);
  EXPECT_FALSE(d->known) << "the sink runs before the window answers";
  EXPECT_GE(d->ms, 0.0);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

// A sink too slow for the flood: the target drops what does not fit and counts it; the sink
// learns how many were lost and where, and what arrived plus what was lost is what was sent.
TEST(Remote, WhatDoesNotFitIsCountedAndPlaced) {
  Target t(L"hook target of a slow spy");
  ASSERT_TRUE(t.hwnd());
  constexpr LONG kMsg = WM_USER + 30;
  DetailSink sink;
  auto inner = sink.handler;
  bool slept = false;
  sink.handler = [&](LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR* r) {
    if (msg != kMsg) return S_OK;
    if (!slept) {
      slept = true;
      Sleep(3000);  // meanwhile the other thread floods the target
    }
    return inner(msg, wp, lp, r);
  };
  com_ptr<_HookwireWindow> w = NewHookwireWindow();
  ASSERT_EQ(S_OK, w->put_hWnd(t.handle()));
  ASSERT_EQ(S_OK, w->put_WatchMessage(kMsg, VARIANT_TRUE));
  ASSERT_EQ(S_OK, w->putref_MessageSink(&sink));
  ASSERT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE));
  sink.info = w.query<IhkMessageDetails>(IID_IhkMessageDetails);
  ASSERT_TRUE(sink.info);
  const int n = 20000;
  HWND target = t.hwnd();
  std::thread flood([&] {
    SendMessageW(target, kMsg, 0, 0);
    Sleep(200);  // the first one is in the sink now
    for (int i = 1; i < n; ++i) SendMessageW(target, kMsg, static_cast<WPARAM>(i), 0);
  });
  while (!slept) PumpUntil([] { return false; }, 5);
  flood.join();
  LONG lost = 0;
  // Every message of the flood either arrives or is counted, once the buffer is read to its end.
  EXPECT_TRUE(PumpUntil([&] { return sink.info->get_LostMessages(&lost) == S_OK && sink.got.size() + lost == n; }, 20000))
      << sink.got.size() << " + " << lost;
  SendMessageW(target, kMsg, static_cast<WPARAM>(n), 0);  // after the flood: a loss is placed before it
  ASSERT_TRUE(PumpUntil([&] { return !sink.got.empty() && sink.got.back().wp == n; }, 30000))
      << sink.got.size() << " arrived, last " << (sink.got.empty() ? -1 : sink.got.back().wp) << ", lost "
      << (sink.info->get_LostMessages(&lost), lost);
  ASSERT_EQ(S_OK, sink.info->get_LostMessages(&lost));
  EXPECT_GT(lost, 0);
  EXPECT_EQ(static_cast<size_t>(n + 1), sink.got.size() + static_cast<size_t>(lost))
      << "arrived " << sink.got.size() << " + lost " << lost;
  LONG placed = 0;
  for (size_t i = 1; i < sink.got.size(); ++i) {
    const Detail& d = sink.got[i];
    placed += d.lost_before;
    EXPECT_EQ(sink.got[i - 1].wp + 1 + d.lost_before, d.wp) << "the gap is where the loss is said to be";
  }
  EXPECT_EQ(lost, placed);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

// Another process of the same user finds the buffer (it goes through the target's handles, the
// most a hostile program could do) and writes over everything it can. Neither side may crash,
// hang, write outside the buffer or hand forged records to the sink, and the capture goes on.
TEST(Remote, HostileWritesToTheBufferChangeNothing) {
  Target t(L"hook target under attack");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  RecordingSink sink;
  auto w = Watch(t.handle(), sink);
  SendMessageW(t.hwnd(), WM_USER + 40, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !sink.got.empty(); }, 5000));

  using namespace hookwire::ring;
  Header* view = nullptr;
  for (ULONG_PTR value = 4; value < 0x4000 && !view; value += 4) {
    HANDLE mine = nullptr;
    if (!DuplicateHandle(t.process_handle(), reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &mine, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
      continue;
    void* v = MapViewOfFile(mine, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    CloseHandle(mine);
    if (v && static_cast<Header*>(v)->magic == kMagic) view = static_cast<Header*>(v);
    else if (v) UnmapViewOfFile(v);
  }
  ASSERT_TRUE(view) << "the buffer was not found among the target's handles";

  // What each side took once, at attach, and never reads again.
  view->capacity = 0x7FFFFFFF;
  view->record_size = 3;
  view->size = 1;
  view->mark = 0;
  view->wake_event = 0x4;
  view->watcher_process = 0x8;
  view->target = 0;
  // Indices and counts: the target must not write outside the buffer, the reader must recover.
  view->read_index = view->write_index + 123456;
  view->watch_all = 0;
  // Forged records, for another window and with sizes beyond the record, at every slot ahead.
  const LONG next = view->write_index;
  for (ULONG i = 0; i < 64; ++i) {
    Record* r = RecordAt(view, kCapacity, static_cast<ULONG>(next) + i);
    r->stamp = next + static_cast<LONG>(i) + 1;
    r->result_stamp = r->stamp;
    r->hwnd = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(GetDesktopWindow()));
    r->msg = WM_USER + 41;
    r->value_count = r->text_chars = r->byte_count = 0xFFFF;
  }
  // The spy puts back what it owns (its read index, its filter) at its next look at the buffer.
  PumpUntil([] { return false; }, 200);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 42, static_cast<WPARAM>(i), 0));
  EXPECT_TRUE(t.Running());
  auto count = [&](LONG msg) { return std::count_if(sink.got.begin(), sink.got.end(), [&](auto& e) { return e.first == msg; }); };
  EXPECT_TRUE(PumpUntil([&] { return count(WM_USER + 42) == 200; }, 10000))
      << "the capture goes on after the attack: " << count(WM_USER + 42) << " of 200";
  EXPECT_EQ(0, count(WM_USER + 41))
      << "a forged record reached the sink";
  UnmapViewOfFile(view);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
  EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 2, 0, 0));
  EXPECT_EQ(original, t.Proc()) << "the target is left as it was";
}

// A watcher of this build's bitness on a program of the other one, through the companion.
TEST(Remote, AProgramOfTheOtherBitnessIsWatched) {
  testing_support::SystemProgram notepad(L"notepad.exe", testing_support::Bitness::Other);
  ASSERT_NE(nullptr, notepad.window());
  ASSERT_NE(testing_support::kIs64Bit, notepad.Is64Bit());
  DetailSink sink;
  auto w = WatchWithDetails(static_cast<LONG>(reinterpret_cast<LONG_PTR>(notepad.window())), sink);
  ASSERT_TRUE(sink.info);
  VARIANT_BOOL on = VARIANT_FALSE;
  w->get_Subclassed(&on);
  ASSERT_EQ(VARIANT_TRUE, on) << testing_support::LastErrorDescription();
  SendMessageW(notepad.window(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"watched across bitness"));
  ASSERT_TRUE(PumpUntil([&] { return sink.Find(WM_SETTEXT) != nullptr; }, 10000));
  const Detail* d = sink.Find(WM_SETTEXT);
  EXPECT_EQ(L"watched across bitness", d->text);
  EXPECT_TRUE(d->known);
  EXPECT_EQ(TRUE, d->result);
  EXPECT_EQ(notepad.Is64Bit(), d->target64);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}
