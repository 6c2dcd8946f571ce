// What a hostile program of the same user can do to a capture, and what it must not achieve: it
// may write the shared buffer at any moment or speak to the hook DLL itself, but the target
// never faults, never writes outside the buffer, the capture goes on until its watcher ends it,
// and what the sink is handed is what the target's window received.
#include "attach.h"
#include "remote_support.h"
#include "system_program.h"

namespace {

using namespace hookwire::ring;

// A watcher of the test's own that speaks to the hook DLL directly, as any program of the user
// could: it makes the buffer as it likes (too small, claiming more records than it holds) and asks
// the target to attach.
class RawWatcher {
 public:
  RawWatcher(const Target& t, ULONG section_size, ULONG capacity) : target_(t.hwnd()) {
    section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, section_size, nullptr);
    view_ = static_cast<Header*>(MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    detach_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!view_ || !CreatePipe(&pipe_read_, &pipe_write_, nullptr, 4096)) return;
    view_->magic = kMagic;
    view_->version = kVersion;
    view_->watch_all = 1;
    Request q{};
    q.magic = kRequestMagic;
    q.version = kVersion;
    q.section = Value(section_);
    q.wake_event = Value(wake_);
    q.detach_event = Value(detach_);
    q.target = Value(target_);
    q.target_thread = GetWindowThreadProcessId(target_, nullptr);
    q.capacity = capacity;
    q.mark = capacity / 2;
    q.key[0] = key_.k0;
    q.key[1] = key_.k1;
    DWORD written = 0;
    WriteFile(pipe_write_, &q, sizeof q, &written, nullptr);
  }
  ~RawWatcher() {
    Detach();
    if (view_) UnmapViewOfFile(view_);
    for (HANDLE h : {section_, wake_, detach_, pipe_read_, pipe_write_})
      if (h) CloseHandle(h);
  }
  Header* view() const { return view_; }
  // Asks the target to attach; true when the request reached its window.
  bool Attach() {
    static HMODULE hook = LoadLibraryW((BinDir() + hookwire::HookDllName(testing_support::kIs64Bit)).c_str());
    return view_ && hook &&
           hookwire::AttachThroughHook(hook, target_, GetCurrentProcessId(), Value(pipe_read_), 5000) ==
               hookwire::kAttachSent;
  }
  bool Attached() const { return view_ && (hookwire::VerifiedStatus(view_, key_) & 0xFF) == kAttached; }
  void Detach() {
    if (!Attached()) return;
    InterlockedExchange(&view_->detach_hint, 1);
    SetEvent(detach_);
    SendMessageW(target_, WM_NULL, 0, 0);
  }

 private:
  template <typename H>
  static ULONG Value(H h) { return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(h)); }
  HWND target_;
  HANDLE section_ = nullptr, wake_ = nullptr, detach_ = nullptr, pipe_read_ = nullptr, pipe_write_ = nullptr;
  Header* view_ = nullptr;
  Key key_{0x0123456789ABCDEFull, 0xFEDCBA9876543210ull};
};

}  // namespace

// The header says 64 records; the section holds the header and the records but not the data
// blocks behind them. The target must not take it, or take it and never write past its end.
TEST(Hostile, AHeaderClaimingMoreThanTheSectionHoldsCostsTheTargetNothing) {
  Target t(L"hook target of a lying header");
  ASSERT_TRUE(t.hwnd());
  const LRESULT exceptions = TargetExceptions(t);
  RawWatcher raw(t, kHeaderSize + 64 * kRecordSize, 64);
  ASSERT_TRUE(raw.view());
  ASSERT_TRUE(raw.Attach());
  const wchar_t text[] = L"after a lying header";
  EXPECT_EQ(TRUE, SendMessageW(t.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
  wchar_t got[64] = {};
  GetWindowTextW(t.hwnd(), got, 64);
  EXPECT_EQ(std::wstring(text), got) << "the window lost its message";
  EXPECT_EQ(exceptions, TargetExceptions(t)) << "the target faulted";
  EXPECT_FALSE(raw.Attached()) << "a buffer without room for the data blocks was taken";
}

// A neighbour rewrites the header while the target attaches: whatever it finds there, an attach
// the target took writes its record where it should, and the target never faults.
TEST(Hostile, AHeaderChangedWhileTheTargetChecksItIsUsedAsChecked) {
  Target t(L"hook target of a changing header");
  ASSERT_TRUE(t.hwnd());
  const LRESULT exceptions = TargetExceptions(t);
  int attached = 0, wrong = 0;
  for (int i = 0; i < 40; ++i) {
    RawWatcher raw(t, kSectionSize, kCapacity);
    ASSERT_TRUE(raw.view());
    Header* h = raw.view();
    volatile bool stop = false;
    std::thread flipper([&] {
      auto* words = reinterpret_cast<volatile LONG*>(h);
      for (ULONG n = 0; !stop; ++n) {
        words[n % 8] = n & 1 ? 0 : static_cast<LONG>(0x7FFFFFFF);
        words[0] = static_cast<LONG>(kMagic);
        words[1] = static_cast<LONG>(kVersion);
      }
    });
    raw.Attach();
    stop = true;
    flipper.join();
    if (!raw.Attached()) continue;
    ++attached;
    const LONG before = h->write_index;
    EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 70, static_cast<WPARAM>(i), 0));
    if (h->write_index != before + 1 || h->lost != 0) ++wrong;
  }
  std::printf("[ figures  ] %d of 40 attaches taken while the header changed\n", attached);
  EXPECT_EQ(0, wrong) << "attaches that ran with values the check never accepted";
  EXPECT_EQ(exceptions, TargetExceptions(t));
}

// The state word in the buffer is no way to end a capture: only the watcher ends it.
TEST(Hostile, OnlyTheWatcherEndsTheCapture) {
  Target t(L"hook target told to let go");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  RecordingSink sink;
  auto w = Watch(t.handle(), sink);
  SendMessageW(t.hwnd(), WM_USER + 80, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !sink.got.empty(); }, 5000));
  Header* view = FindBuffer(t.process_handle());
  ASSERT_TRUE(view);
  for (LONG state = 0; state <= 5; ++state) {
    InterlockedExchange(&view->status, state | 16 << 8);  // "ended: the watcher left"
    InterlockedExchange(&view->detach_hint, 1);
    EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 81, static_cast<WPARAM>(state), 0));
  }
  Sleep(1200);  // the target's periodic look at its window
  for (int i = 0; i < 20; ++i) SendMessageW(t.hwnd(), WM_USER + 82, static_cast<WPARAM>(i), 0);
  auto count = [&](LONG msg) { return std::count_if(sink.got.begin(), sink.got.end(), [&](auto& e) { return e.first == msg; }); };
  EXPECT_TRUE(PumpUntil([&] { return count(WM_USER + 81) == 6 && count(WM_USER + 82) == 20; }, 5000))
      << "the capture ended when a neighbour wrote the state word: " << count(WM_USER + 81) << " of 6, "
      << count(WM_USER + 82) << " of 20";
  EXPECT_NE(original, t.Proc());
  UnmapViewOfFile(view);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
  SendMessageW(t.hwnd(), WM_USER + 2, 0, 0);
  EXPECT_EQ(original, t.Proc()) << "the watcher's own end still restores the window";
}

// Records forged for the right window, with the stamps the reader expects, placed ahead of the
// target's writing: none reaches the sink, and every real message either arrives or is counted.
TEST(Hostile, ForgedRecordsForTheRightWindowNeverReachTheSink) {
  Target t(L"hook target given forged records");
  ASSERT_TRUE(t.hwnd());
  RecordingSink sink;
  auto w = Watch(t.handle(), sink);
  auto info = w.query<IhkCaptureInfo>(IID_IhkCaptureInfo);
  ASSERT_TRUE(info);
  SendMessageW(t.hwnd(), WM_USER + 90, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !sink.got.empty(); }, 5000));
  Header* view = FindBuffer(t.process_handle());
  ASSERT_TRUE(view);
  const LONG next = view->write_index;
  const ULONG window = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(t.hwnd()));
  for (ULONG i = 0; i < 64; ++i) {
    Record* r = RecordAt(view, kCapacity, static_cast<ULONG>(next) + i);
    r->stamp = next + static_cast<LONG>(i) + 1;
    r->result_stamp = r->stamp;
    r->hwnd = window;
    r->msg = WM_USER + 91;
    r->time = FileTimeNow();
    r->value_count = r->text_chars = r->byte_count = 0;
    r->data_kind = 0;
  }
  view->write_index = next + 64;
  PumpUntil([] { return false; }, 300);
  const int n = 200;
  for (int i = 0; i < n; ++i) EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 92, static_cast<WPARAM>(i), 0));
  auto count = [&](LONG msg) { return std::count_if(sink.got.begin(), sink.got.end(), [&](auto& e) { return e.first == msg; }); };
  LONG lost = 0;
  EXPECT_TRUE(PumpUntil([&] { return info->get_LostMessages(&lost) == S_OK && count(WM_USER + 92) + lost >= n; }, 10000))
      << count(WM_USER + 92) << " arrived, " << lost << " counted lost";
  EXPECT_EQ(0, count(WM_USER + 91)) << "forged records reached the sink";
  EXPECT_EQ(n, count(WM_USER + 92) + lost) << "a real message went uncounted";
  UnmapViewOfFile(view);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

namespace {

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

// What a neighbour writes: mostly values near the ones the two sides use, sometimes anything.
LONG Plausible(std::mt19937& r, LONG near) {
  switch (r() % 6) {
    case 0: return 0;
    case 1: return static_cast<LONG>(r());
    case 2: return -1;
    case 3: return static_cast<LONG>(kCapacity);
    default: return near + static_cast<LONG>(r() % 200) - 100;
  }
}

void Scribble(std::mt19937& r, Header* v) {
  auto* words = reinterpret_cast<volatile LONG*>(v);
  const LONG at = v->write_index;
  switch (r() % 7) {
    case 0: words[r() % (sizeof(Header) / sizeof(LONG))] = Plausible(r, at); break;
    case 1: v->write_index = Plausible(r, at); break;
    case 2: v->read_index = Plausible(r, at); break;
    case 3: v->status = Plausible(r, 1); v->status_tag = static_cast<LONG>(r()); break;
    case 4: v->lost = Plausible(r, 0); v->lost_tag = static_cast<LONG>(r()); break;
    case 5: {  // a record ahead of the target or just behind it, plausible or not
      const ULONG index = static_cast<ULONG>(at) + (r() % 80) - 16;
      Record* rec = RecordAt(v, kCapacity, index);
      auto* rw = reinterpret_cast<volatile LONG*>(rec);
      for (int i = 0; i < 16; ++i)
        if (r() % 3 == 0) rw[i] = Plausible(r, static_cast<LONG>(index) + 1);
      if (r() % 2) rec->msg = WM_USER + 101;  // a number the driver never sends
      break;
    }
    default: {
      Data* d = DataAt(v, kCapacity, static_cast<ULONG>(at) + (r() % 64));
      auto* dw = reinterpret_cast<volatile LONG*>(d);
      dw[r() % (sizeof(Data) / sizeof(LONG))] = static_cast<LONG>(r());
      break;
    }
  }
}

}  // namespace

// A neighbour rewrites header fields, indices, records and data at random moments (during the
// attach too: it writes the watcher's buffer from the moment this process makes it) while a
// driver sends a known stream. The target's procedure gets every message of the stream, in order;
// no access violation is raised in the target; what reaches the sink is the stream's own (in its
// order, none forged); after each detach the window procedure is the one before.
// HOOKWIRE_FUZZ_SECONDS (default 3) and HOOKWIRE_FUZZ_SEED set the run.
TEST(Hostile, ANeighbourWritingTheBufferAtRandomHurtsNothing) {
  const unsigned seed = EnvNumber("HOOKWIRE_FUZZ_SEED", 20261209);
  const unsigned seconds = EnvNumber("HOOKWIRE_FUZZ_SECONDS", 3);
  SCOPED_TRACE("HOOKWIRE_FUZZ_SEED=" + std::to_string(seed));
  Target t(L"hook target of a hostile neighbour");
  ASSERT_TRUE(t.hwnd());
  const LRESULT original = t.Proc();
  const LRESULT exceptions = TargetExceptions(t);
  std::mt19937 rng(seed);
  std::vector<WPARAM> sent;
  int rounds = 0, attached = 0;
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < until) {
    ++rounds;
    RecordingSink sink;
    std::atomic<bool> stop{false};
    const unsigned neighbour_seed = static_cast<unsigned>(rng());
    std::thread neighbour([&] {
      std::mt19937 r(neighbour_seed);
      while (!stop) {
        // The watcher's own buffer (this process made it), or the target's view of it.
        Header* v = FindBuffer(r() % 2 ? GetCurrentProcess() : t.process_handle());
        if (!v) continue;
        for (int i = 0, n = static_cast<int>(r() % 40); i < n && !stop; ++i) {
          Scribble(r, v);
          if (r() % 4 == 0) Sleep(r() % 3);
        }
        UnmapViewOfFile(v);
      }
    });
    com_ptr<_HookwireWindow> w = NewHookwireWindow();
    w->put_hWnd(t.handle());
    w->put_WatchMessage(kAll, VARIANT_TRUE);
    w->putref_MessageSink(&sink);
    const bool on = w->put_Subclassed(VARIANT_TRUE) == S_OK;  // a neighbour may spoil an attach: never more
    attached += on;
    std::vector<WPARAM> round;
    for (int i = 0; i < 100; ++i) {
      const WPARAM seq = sent.size();
      sent.push_back(seq);
      round.push_back(seq);
      if (rng() % 4 == 0) EXPECT_TRUE(SendNotifyMessageW(t.hwnd(), WM_USER + 100, seq, 0));
      else EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 100, seq, 0)) << "the target's procedure did not answer";
      if (i % 10 == 0) PumpUntil([] { return false; }, 2);
    }
    PumpUntil([&] { return !sink.got.empty() && static_cast<WPARAM>(sink.got.back().second) == round.back(); }, 300);
    stop = true;
    neighbour.join();
    EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
    EXPECT_EQ(7, SendMessageW(t.hwnd(), WM_USER + 2, 0, 0));
    EXPECT_EQ(original, t.Proc()) << "round " << rounds << ": the window procedure is not the one before";
    // What the sink got is the stream's own, in its order.
    size_t at = 0;
    for (auto& [msg, wp] : sink.got) {
      EXPECT_EQ(WM_USER + 100, msg) << "round " << rounds << ": a message nobody sent reached the sink";
      while (at < round.size() && round[at] != static_cast<WPARAM>(wp)) ++at;
      EXPECT_LT(at, round.size()) << "round " << rounds << ": out of order or not sent: " << wp;
    }
    ASSERT_TRUE(t.Running());
  }
  std::printf("[ figures  ] %d rounds in %u s, %d attached\n", rounds, seconds, attached);
  EXPECT_EQ(exceptions, TargetExceptions(t)) << "access violations in the target";
  std::vector<WPARAM> handled;
  for (auto& [msg, wp] : t.Log())
    if (msg == WM_USER + 100) handled.push_back(static_cast<WPARAM>(wp));
  EXPECT_EQ(sent, handled) << "the target's procedure did not get the whole stream in order";
}
