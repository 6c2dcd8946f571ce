// Watching windows of other programs: their messages are captured inside their program and
// reach the sink on this thread, in the target's order, without the target ever waiting.
#include "remote_support.h"
#include "system_program.h"


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

// A sink that ends the capture, and lets go of the window object, while its message is delivered:
// the rest of that drain must not touch what went with it, and the thread can watch again.
TEST(Remote, TheSinkMayEndTheCaptureFromInsideItsMessage) {
  Target t(L"hook target ended by its sink");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  RecordingSink sink;
  com_ptr<_HookwireWindow> w = Watch(t.handle(), sink);
  int calls = 0;
  sink.handler = [&](LONG msg, LONG_PTR, LONG_PTR, LONG_PTR*) {
    if (msg == WM_USER + 50 && ++calls == 1) {
      w->put_Subclassed(VARIANT_FALSE);
      w = nullptr;  // the last reference: the object goes while its delivery runs
    }
    return S_OK;
  };
  for (int i = 0; i < 20; ++i) SendMessageW(t.hwnd(), WM_USER + 50, static_cast<WPARAM>(i), 0);
  PumpUntil([&] { return calls > 0; }, 5000);
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(1, calls) << "nothing is delivered after the capture ended";
  EXPECT_EQ(original, t.Proc());
  RecordingSink again;
  auto w2 = Watch(t.handle(), again);
  SendMessageW(t.hwnd(), WM_USER + 51, 1, 0);
  EXPECT_TRUE(PumpUntil([&] { return !again.got.empty(); }, 5000));
  EXPECT_EQ(S_OK, w2->put_Subclassed(VARIANT_FALSE));
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
  EXPECT_LT(hung, bare * 4 + 20) << "the target waited on its spy (a wait would cost it milliseconds)";
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
  // (The posted one comes when the target's loop gets to its queue: that may be after the sent ones.)
  ASSERT_TRUE(PumpUntil([&] { return sink.Find(WM_WINDOWPOSCHANGED) && sink.Find(WM_USER + 1); }, 10000));

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
  Header* view = FindBuffer(t.process_handle());
  ASSERT_TRUE(view) << "the buffer was not found among the target's handles";

  // What the target says of itself (without the session's key: not taken), the watcher's hint
  // that it left (not followed: the target asks the platform whether the watcher's event is set).
  view->status = 3 | 16 << 8;
  view->status_tag = 12345;
  view->target_64bit = 2;
  view->detach_hint = 1;
  view->attached_time = -1;
  view->lost = 1000000;
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
  view->write_index = next + 64;  // and says they were written
  // The spy puts back what it owns (its read index, its filter) at its next look at the buffer.
  PumpUntil([] { return false; }, 200);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 42, static_cast<WPARAM>(i), 0));
  EXPECT_TRUE(t.Running());
  auto count = [&](LONG msg) { return std::count_if(sink.got.begin(), sink.got.end(), [&](auto& e) { return e.first == msg; }); };
  EXPECT_TRUE(PumpUntil([&] { return count(WM_USER + 42) == 200; }, 10000))
      << "the capture goes on after the attack: " << count(WM_USER + 42) << " of 200";
  EXPECT_EQ(0, count(WM_USER + 41))
      << "a forged record reached the sink";
  LONG lost = 0;
  EXPECT_EQ(S_OK, w.query<IhkCaptureInfo>(IID_IhkCaptureInfo)->get_LostMessages(&lost));
  EXPECT_LT(lost, 1000) << "a loss count the target did not write was taken";
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

// A window the program subclassed above us, left by its watcher and then destroyed: the
// pass-through we stayed as goes with it, so the program can be watched in any number of windows.
TEST(Remote, PassThroughsGoWithTheirWindows) {
  Target t(L"hook target of many windows");
  ASSERT_TRUE(t.hwnd());
  for (int i = 0; i < 70; ++i) {
    HWND child = reinterpret_cast<HWND>(SendMessageW(t.hwnd(), kNewChild, 0, 0));
    ASSERT_TRUE(child) << i;
    RecordingSink sink;
    com_ptr<_HookwireWindow> w = NewHookwireWindow();
    ASSERT_EQ(S_OK, w->put_hWnd(static_cast<LONG>(reinterpret_cast<LONG_PTR>(child))));
    ASSERT_EQ(S_OK, w->put_WatchMessage(kAll, VARIANT_TRUE));
    ASSERT_EQ(S_OK, w->putref_MessageSink(&sink));
    ASSERT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE))
        << "window " << i << ": " << testing_support::LastErrorDescription();
    SendMessageW(t.hwnd(), kSubclassSelf, reinterpret_cast<WPARAM>(child), 0);
    ASSERT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
    ASSERT_TRUE(SendMessageW(t.hwnd(), kDestroy, reinterpret_cast<WPARAM>(child), 0));
  }
}

// Messages numbered above 0xFFFF are what the window procedure received like any other: they are
// handed on as they are, and the capture never waits on them.
TEST(Remote, MessagesAboveFFFFArriveAndStallNothing) {
  Target t(L"hook target of large message numbers");
  ASSERT_TRUE(t.hwnd());
  Sink sink;
  std::vector<std::pair<LONG, LONG_PTR>> got;
  sink.handler = [&](LONG msg, LONG_PTR wp, LONG_PTR, LONG_PTR*) {
    if (msg >= static_cast<LONG>(WM_USER) && msg != static_cast<LONG>(kDump)) got.emplace_back(msg, wp);
    return S_OK;
  };
  auto w = Watch(t.handle(), sink);
  std::vector<std::pair<LONG, LONG_PTR>> sent;
  double worst = 0;
  for (int round = 0; round < 5; ++round) {
    const auto start = Clock::now();
    EXPECT_EQ(7, SendMessageW(t.hwnd(), 0x12345 + round, static_cast<WPARAM>(round), 0));
    EXPECT_TRUE(SendNotifyMessageW(t.hwnd(), 0x7FFF0000, static_cast<WPARAM>(round), 0));
    EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 60, static_cast<WPARAM>(round), 0));
    sent.insert(sent.end(), {{0x12345 + round, round}, {0x7FFF0000, round}, {WM_USER + 60, round}});
    const std::pair<LONG, LONG_PTR> last{WM_USER + 60, round};
    ASSERT_TRUE(PumpUntil([&] { return std::find(got.begin(), got.end(), last) != got.end(); }, 5000)) << round;
    worst = std::max(worst, Ms(Clock::now() - start));
  }
  EXPECT_EQ(sent, got);
  EXPECT_LT(worst, 250.0) << "the capture stalled on a large message number";
  auto log = t.Log();
  EXPECT_EQ(log, got) << "what the target's procedure received";
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

// A 64-bit program's window whose handle has bit 31 set (its handle reads as a negative Long
// here) is watched like any other, from either build.
TEST(Remote, AWindowWhoseHandleHasBit31SetIsWatched) {
  const wchar_t* exe = testing_support::kIs64Bit ? L"HookTarget.exe" : L"HookTarget64.exe";
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((BinDir() + exe).c_str())) << "the 64-bit test target";
  Target t(L"hook target with a high handle", exe);
  ASSERT_TRUE(t.hwnd());
  const LONG child = static_cast<LONG>(SendMessageW(t.hwnd(), kHighBitChild, 0, 0));
  ASSERT_TRUE(child & 0x80000000) << std::hex << child;
  HWND h = reinterpret_cast<HWND>(static_cast<LONG_PTR>(child));
  ASSERT_TRUE(IsWindow(h));
  RecordingSink sink;
  com_ptr<_HookwireWindow> w = NewHookwireWindow();
  ASSERT_EQ(S_OK, w->put_hWnd(child));
  LONG back = 0;
  EXPECT_EQ(S_OK, w->get_hWnd(&back));
  EXPECT_EQ(child, back);
  ASSERT_EQ(S_OK, w->put_WatchMessage(kAll, VARIANT_TRUE));
  ASSERT_EQ(S_OK, w->putref_MessageSink(&sink));
  ASSERT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE)) << testing_support::LastErrorDescription();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(7, SendMessageW(h, WM_USER + 61, static_cast<WPARAM>(i), 0));
  EXPECT_TRUE(PumpUntil([&] { return sink.got.size() >= 10; }, 5000)) << sink.got.size();
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

// The client learns when a capture ends on its own: CaptureEnded and EndReason on the window
// object, Subclassed False. Its own stop sets neither.
TEST(Remote, TheClientIsToldWhenTheCaptureEndsOnItsOwn) {
  Target t(L"hook target whose capture ends");
  ASSERT_TRUE(t.hwnd());
  auto ended = [](const com_ptr<_HookwireWindow>& w, LONG* why) {
    auto info = w.query<IhkCaptureInfo>(IID_IhkCaptureInfo);
    VARIANT_BOOL e = VARIANT_FALSE;
    EXPECT_EQ(S_OK, info->get_CaptureEnded(&e));
    EXPECT_EQ(S_OK, info->get_EndReason(why));
    return e != VARIANT_FALSE;
  };
  LONG why = -1;
  {  // the client's own stop
    RecordingSink sink;
    auto w = Watch(t.handle(), sink);
    EXPECT_FALSE(ended(w, &why));
    EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
    EXPECT_FALSE(ended(w, &why));
    EXPECT_EQ(0, why);
  }
  {  // the window is destroyed
    HWND child = reinterpret_cast<HWND>(SendMessageW(t.hwnd(), kNewChild, 0, 0));
    ASSERT_TRUE(child);
    RecordingSink sink;
    auto w = Watch(static_cast<LONG>(reinterpret_cast<LONG_PTR>(child)), sink);
    SendMessageW(child, WM_USER + 70, 1, 0);
    SendMessageW(t.hwnd(), kDestroy, reinterpret_cast<WPARAM>(child), 0);
    EXPECT_TRUE(PumpUntil([&] { return ended(w, &why); }, 5000));
    EXPECT_EQ(1, why);  // hkEndWindowDestroyed
    VARIANT_BOOL on = VARIANT_TRUE;
    EXPECT_EQ(S_OK, w->get_Subclassed(&on));
    EXPECT_EQ(VARIANT_FALSE, on);
    EXPECT_EQ(1u, sink.got.size()) << "what came before the end is delivered";
  }
  {  // the program puts back the procedure it had before the capture: we are cut out
    const LRESULT original = t.Proc();
    RecordingSink sink;
    auto w = Watch(t.handle(), sink);
    SendMessageW(t.hwnd(), kSetProc, 0, static_cast<LPARAM>(original));
    EXPECT_TRUE(PumpUntil([&] { return ended(w, &why); }, 5000));
    EXPECT_EQ(3, why);  // hkEndCutOut
  }
  {  // the program ends
    RecordingSink sink;
    auto w = Watch(t.handle(), sink);
    t.Kill();
    EXPECT_TRUE(PumpUntil([&] { return ended(w, &why); }, 5000));
    EXPECT_EQ(2, why);  // hkEndProgramEnded
  }
}

// A window of the client's own thread: the same flag when it is destroyed.
TEST(Remote, TheEndOfAnOwnThreadWindowIsToldToo) {
  auto own = std::make_unique<testing_support::TestWindow>();
  RecordingSink sink;
  auto w = Watch(own->handle(), sink);
  own.reset();
  auto info = w.query<IhkCaptureInfo>(IID_IhkCaptureInfo);
  VARIANT_BOOL e = VARIANT_FALSE;
  LONG why = 0;
  EXPECT_EQ(S_OK, info->get_CaptureEnded(&e));
  EXPECT_EQ(S_OK, info->get_EndReason(&why));
  EXPECT_EQ(VARIANT_TRUE, e);
  EXPECT_EQ(1, why);
}

// --- the capture against what the target's own procedure logged ---------------------------

namespace {

constexpr UINT kStreamEnd = WM_USER + 0x6FF2;

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

struct Generated {
  UINT msg;
  WPARAM wp;
  int how;  // 0 SendMessage, 1 PostMessage, 2 SendNotifyMessage, 3 SendMessageCallback
};

// The stream: numbers of the test's own range (answered 3 * wParam + 1), registered messages,
// numbers above 0xFFFF, and messages whose handling sends the window another one.
std::vector<Generated> Stream(std::mt19937& rng, int n, const std::vector<UINT>& registered) {
  std::vector<Generated> out;
  for (int i = 0; i < n; ++i) {
    Generated g{};
    g.wp = static_cast<WPARAM>(i);
    switch (rng() % 6) {
      case 0: g.msg = registered[rng() % registered.size()]; break;
      case 1: g.msg = 0x10000 + rng() % 0x7FFE0000; break;  // Wine keeps 0x8000xxxx for itself
      case 2: g.msg = kNested; break;
      default: g.msg = WM_USER + 0x1000 + rng() % 0x1000; break;
    }
    g.how = static_cast<int>(rng() % 4);
    out.push_back(g);
  }
  return out;
}

void CALLBACK Answered(HWND, UINT, ULONG_PTR, LRESULT) {}

void Send(HWND h, const Generated& g) {
  switch (g.how) {
    case 0: SendMessageW(h, g.msg, g.wp, 0); break;
    case 1: PostMessageW(h, g.msg, g.wp, 0); break;
    case 2: SendNotifyMessageW(h, g.msg, g.wp, 0); break;
    default: SendMessageCallbackW(h, g.msg, g.wp, 0, Answered, 0); break;
  }
}

// Sends the stream to `h` (a window of t) from three threads, and texts and data blocks from this
// one, and compares what the sink was handed with what the target's procedure logged.
void Differential(Target& t, HWND h, unsigned seed, int n) {
  SCOPED_TRACE("HOOKWIRE_DIFF_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  std::vector<UINT> registered;
  for (const wchar_t* name : {L"HookTargetLog.One", L"HookTargetLog.Two", L"HookTargetLog.Three"})
    registered.push_back(RegisterWindowMessageW(name));
  const std::vector<Generated> stream = Stream(rng, n, registered);
  auto in_stream = [&](UINT msg) {
    return (msg >= WM_USER + 0x1000 && msg < WM_USER + 0x2000) || msg > 0xFFFF || msg == kNested ||
           msg == kNestedInner || msg == kStreamEnd ||
           std::find(registered.begin(), registered.end(), msg) != registered.end();
  };
  DetailSink sink;
  com_ptr<_HookwireWindow> w = NewHookwireWindow();
  ASSERT_EQ(S_OK, w->put_hWnd(static_cast<LONG>(reinterpret_cast<LONG_PTR>(h))));
  ASSERT_EQ(S_OK, w->put_WatchMessage(kAll, VARIANT_TRUE));
  ASSERT_EQ(S_OK, w->putref_MessageSink(&sink));
  ASSERT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE)) << testing_support::LastErrorDescription();
  sink.info = w.query<IhkMessageDetails>(IID_IhkMessageDetails);
  ASSERT_TRUE(sink.info);

  std::vector<std::wstring> texts;
  std::vector<std::vector<BYTE>> blocks;
  for (int i = 0; i < 10; ++i) {
    texts.push_back(L"text " + std::to_wstring(rng() % 100000));
    SendMessageW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(texts.back().c_str()));
    std::vector<BYTE> bytes(1 + rng() % 80);
    for (BYTE& b : bytes) b = static_cast<BYTE>(rng());
    COPYDATASTRUCT cds{static_cast<ULONG_PTR>(i), static_cast<DWORD>(bytes.size()), bytes.data()};
    SendMessageW(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    bytes.resize(std::min<size_t>(bytes.size(), hookwire::ring::kMaxBytes));
    blocks.push_back(bytes);
  }
  std::vector<std::thread> senders;
  for (int k = 0; k < 3; ++k)
    senders.emplace_back([&, k] {
      for (size_t i = static_cast<size_t>(k); i < stream.size(); i += 3) Send(h, stream[i]);
    });
  for (auto& s : senders) s.join();
  PostMessageW(h, kStreamEnd, 0, 0);  // handled after everything the senders posted
  ASSERT_TRUE(PumpUntil([&] { return sink.Find(static_cast<LONG>(kStreamEnd)) != nullptr; }, 30000));
  std::vector<std::pair<LONG, LONG_PTR>> logged, captured;
  for (auto& e : t.Log())
    if (in_stream(static_cast<UINT>(e.first))) logged.push_back(e);
  std::vector<std::wstring> got_texts;
  std::vector<std::vector<BYTE>> got_blocks;
  int known = 0;
  for (const Detail& d : sink.got) {
    const UINT msg = static_cast<UINT>(d.msg);
    if (msg == WM_SETTEXT) got_texts.push_back(d.text);
    if (msg == WM_COPYDATA) got_blocks.push_back(d.bytes);
    if (!in_stream(msg)) continue;
    captured.emplace_back(d.msg, d.wp);
    if (!d.known) continue;
    ++known;
    const LONGLONG expected = msg >= WM_USER + 0x1000 && msg < WM_USER + 0x2000 ? 3 * static_cast<LONGLONG>(d.wp) + 1 : 7;
    EXPECT_EQ(expected, d.result) << "message " << std::hex << msg << std::dec << " wParam " << d.wp;
  }
  EXPECT_GT(logged.size(), static_cast<size_t>(n));  // the stream and the nested ones
  EXPECT_EQ(logged, captured) << "the capture is not what the target's procedure received";
  EXPECT_GT(known, n / 2) << "results known";
  EXPECT_EQ(texts, got_texts);
  EXPECT_EQ(blocks, got_blocks);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

const wchar_t* OtherBitnessTarget() { return testing_support::kIs64Bit ? L"HookTarget32.exe" : L"HookTarget64.exe"; }

}  // namespace

// Generated streams (HOOKWIRE_DIFF_SEED, HOOKWIRE_DIFF_COUNT) into targets of both bitnesses and into
// a 64-bit target's window whose handle has bit 31 set: the capture equals the target's own log,
// with the procedure's results and the data the messages carried.
TEST(Remote, TheCaptureIsWhatTheTargetsProcedureReceived) {
  const unsigned seed = EnvNumber("HOOKWIRE_DIFF_SEED", 1209);
  const int n = static_cast<int>(EnvNumber("HOOKWIRE_DIFF_COUNT", 300));
  {
    Target t(L"hook target compared");
    ASSERT_TRUE(t.hwnd());
    Differential(t, t.hwnd(), seed, n);
  }
  {
    Target t(L"hook target of the other bitness compared", OtherBitnessTarget());
    ASSERT_TRUE(t.hwnd());
    Differential(t, t.hwnd(), seed + 1, n);
  }
  {
    Target t(L"hook target with a high handle compared", testing_support::kIs64Bit ? L"HookTarget.exe" : L"HookTarget64.exe");
    ASSERT_TRUE(t.hwnd());
    const LONG child = static_cast<LONG>(SendMessageW(t.hwnd(), kHighBitChild, 0, 0));
    ASSERT_TRUE(child & 0x80000000);
    Differential(t, reinterpret_cast<HWND>(static_cast<LONG_PTR>(child)), seed + 2, n);
  }
}
