// Watching windows of other programs: the hook brings their messages to this thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "capture_table.h"
#include "test_window.h"

using common::com_ptr;
using testing_support::NewHookwireWindow;
using testing_support::Sink;

namespace {

constexpr UINT kDump = WM_USER + 0x7FFE;
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
  hookwire::capture::Table* table = hookwire::capture::OpenTable();
  ASSERT_NE(nullptr, table);
  LONG calls = table->hook_calls;
  SendMessageW(t.hwnd(), WM_USER + 2, 0, 0);
  testing_support::PumpMessages();
  EXPECT_EQ(before, sink.got.size()) << "nothing arrives once capture is off";
  EXPECT_EQ(calls, table->hook_calls) << "the last watcher gone, the hook is off the target";
  UnmapViewOfFile(table);
}

TEST(Remote, TenThousandMessagesNoneLostNoneDuplicated) {
  Target t(L"hook target ten thousand");
  ASSERT_TRUE(t.hwnd());
  RecordingSink sink;
  auto w = Watch(t.handle(), sink);
  const int n = 10000;
  auto start = Clock::now();
  for (int i = 0; i < n; ++i) {
    if (i % 4 == 0) PostMessageW(t.hwnd(), WM_USER + 3, static_cast<WPARAM>(i), 0);
    else SendMessageW(t.hwnd(), WM_USER + 3, static_cast<WPARAM>(i), 0);
  }
  ASSERT_TRUE(PumpUntil([&] { return sink.got.size() >= static_cast<size_t>(n); }, 60000)) << sink.got.size();
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

TEST(Remote, KillingTheSpyLeavesTheTargetWorkingAndUnhooked) {
  hookwire::capture::Table* table = hookwire::capture::OpenTable();
  ASSERT_NE(nullptr, table);
  Target t(L"hook target of a killed spy");
  ASSERT_TRUE(t.hwnd());
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"HookSpyReady.kill");
  wchar_t arg[64];
  std::swprintf(arg, 64, L"%lX HookSpyReady.kill", static_cast<unsigned long>(t.handle()));
  Process spy(L"HookSpy.exe", arg);
  ASSERT_TRUE(spy.ok());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 15000));
  LONG calls = table->hook_calls;
  SendMessageW(t.hwnd(), WM_USER + 6, 0, 0);
  EXPECT_GT(table->hook_calls, calls) << "the spy's hook runs in the target";

  spy.Kill();
  // The first message after the spy's death may still meet its hook, which then takes itself off.
  DWORD_PTR first = 0;
  ASSERT_TRUE(SendMessageTimeoutW(t.hwnd(), WM_USER + 6, 0, 0, SMTO_ABORTIFHUNG, 2000, &first));
  calls = table->hook_calls;
  auto start = Clock::now();
  for (int i = 0; i < 20; ++i) {
    DWORD_PTR r = 0;
    ASSERT_TRUE(SendMessageTimeoutW(t.hwnd(), WM_USER + 6, 0, 0, SMTO_ABORTIFHUNG, 2000, &r));
    EXPECT_EQ(7u, r);
  }
  EXPECT_LT(Ms(Clock::now() - start), 1000.0);
  EXPECT_EQ(calls, table->hook_calls) << "the dead spy's hooks are gone from the target";
  CloseHandle(ready);
  UnmapViewOfFile(table);
}

TEST(Remote, AHungSpyCostsTheTargetAShortBoundedWait) {
  Target t(L"hook target of a hung spy");
  ASSERT_TRUE(t.hwnd());
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"HookSpyReady.hang");
  wchar_t arg[64];
  std::swprintf(arg, 64, L"%lX HookSpyReady.hang hang", static_cast<unsigned long>(t.handle()));
  Process spy(L"HookSpy.exe", arg);
  ASSERT_TRUE(spy.ok());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 15000));
  auto start = Clock::now();
  for (int i = 0; i < 20; ++i) {
    DWORD_PTR r = 0;
    ASSERT_TRUE(SendMessageTimeoutW(t.hwnd(), WM_USER + 7, 0, 0, SMTO_NORMAL, 5000, &r));
    EXPECT_EQ(7u, r);
  }
  double ms = Ms(Clock::now() - start);
  EXPECT_LT(ms, 1000.0) << "one bounded wait, then none while the spy stays hung";
  std::printf("[ figures  ] 20 messages to a target whose spy hangs: %.0f ms\n", ms);
  spy.Kill();
  CloseHandle(ready);
}

TEST(Remote, CostPerMessageWithAndWithoutTheSpy) {
  Target t(L"hook target cost");
  ASSERT_TRUE(t.hwnd());
  const int n = 2000;
  auto run = [&] {
    auto start = Clock::now();
    for (int i = 0; i < n; ++i) SendMessageW(t.hwnd(), WM_USER + 8, static_cast<WPARAM>(i), 0);
    return Ms(Clock::now() - start) * 1000.0 / n;  // microseconds per message
  };
  double bare = run();
  RecordingSink sink;
  auto w = Watch(t.handle(), sink);
  double spied = run();
  ASSERT_TRUE(PumpUntil([&] { return sink.got.size() >= static_cast<size_t>(n); }, 20000));
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
  double after = run();
  std::printf("[ figures  ] per message sent to another process: %.1f us bare, %.1f us watched (x%.2f), "
              "%.1f us after capture stopped\n", bare, spied, spied / bare, after);
  EXPECT_EQ(static_cast<size_t>(n), sink.got.size());
}

// A spy whose sink takes longer than the target waits: the target skips the messages that follow
// for a while. None of them may go unnoticed: the window object counts them, on its second
// interface, and what arrived plus what was lost is what the target handled.
TEST(Remote, MessagesASlowSpyMissedAreCounted) {
  Target t(L"hook target of a slow spy");
  ASSERT_TRUE(t.hwnd());
  constexpr LONG kMsg = WM_USER + 30;
  RecordingSink sink;
  sink.handler = [&](LONG msg, LONG_PTR wp, LONG_PTR, LONG_PTR*) {
    if (msg == kMsg) {
      if (sink.got.empty()) Sleep(hookwire::capture::kDeliveryTimeoutMs * 2);  // longer than the target waits
      sink.got.emplace_back(msg, wp);
    }
    return S_OK;
  };
  com_ptr<_HookwireWindow> w = NewHookwireWindow();
  ASSERT_EQ(S_OK, w->put_hWnd(t.handle()));
  ASSERT_EQ(S_OK, w->put_WatchMessage(kMsg, VARIANT_TRUE));
  ASSERT_EQ(S_OK, w->putref_MessageSink(&sink));
  ASSERT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE));
  com_ptr<IhkCaptureInfo> info = w.query<IhkCaptureInfo>(IID_IhkCaptureInfo);
  ASSERT_TRUE(info) << "the count is offered on a second interface of the same object";
  LONG lost = -1;
  ASSERT_EQ(S_OK, info->get_LostMessages(&lost));
  EXPECT_EQ(0, lost);

  const int n = 40;
  for (int i = 0; i < n; ++i) PostMessageW(t.hwnd(), kMsg, static_cast<WPARAM>(i), 0);
  auto handled = [&] {
    size_t k = 0;
    for (auto& e : t.Log()) k += e.first == kMsg;
    return k;
  };
  ASSERT_TRUE(PumpUntil([&] { return handled() == static_cast<size_t>(n); }, 10000));
  testing_support::PumpMessages();
  ASSERT_EQ(S_OK, info->get_LostMessages(&lost));
  EXPECT_GT(lost, 0) << "the target skipped messages while the spy was slow";
  EXPECT_EQ(static_cast<size_t>(n), sink.got.size() + static_cast<size_t>(lost))
      << "arrived " << sink.got.size() << " + lost " << lost << " = what the target handled";

  // Once the target waits again, messages arrive and the count stays.
  const LONG lost_before = lost;
  Sleep(hookwire::capture::kStallMs + 200);
  const size_t arrived = sink.got.size();
  for (int i = 0; i < 5; ++i) PostMessageW(t.hwnd(), kMsg, static_cast<WPARAM>(100 + i), 0);
  EXPECT_TRUE(PumpUntil([&] { return sink.got.size() == arrived + 5; }, 5000)) << sink.got.size() - arrived;
  ASSERT_EQ(S_OK, info->get_LostMessages(&lost));
  EXPECT_EQ(lost_before, lost);

  // Late bound, by name, as a script would read it; it stays readable after capture stops.
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
  OLECHAR name[] = L"LostMessages";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  ASSERT_EQ(S_OK, info->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
  DISPPARAMS none{};
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(S_OK, info->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr));
  EXPECT_EQ(VT_I4, v.vt);
  EXPECT_EQ(lost_before, v.lVal);
  com_ptr<_HookwireWindow> back = info.query<_HookwireWindow>(IID__HookwireWindow);
  EXPECT_EQ(w.get(), back.get()) << "one object behind both interfaces";
}
