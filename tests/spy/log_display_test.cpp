// The log at display rate: the sink only keeps records, and the log on screen is brought up to date
// in batches. After every update it must hold exactly what adding each line as its message came
// (the oldest deleted past the length, the newest selected) would have left.
#include <cstdlib>
#include <deque>
#include <random>

#include "spy_fixture.h"

namespace spy_test {
namespace {

using LogDisplay = SpyTest;
using testing_support::TestWindow;

// The log kept line by line, in a list box of the log's size and font: each line added as its
// message came, the oldest deleted while there are more than the length allows, the newest
// selected.
class LineByLineLog {
 public:
  explicit LineByLineLog(const spy::MainWindow& w) {
    RECT r{};
    GetClientRect(w.log(), &r);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(w.log(), GWL_STYLE)) & ~static_cast<DWORD>(WS_VISIBLE);
    list_ = CreateWindowExW(static_cast<DWORD>(GetWindowLongW(w.log(), GWL_EXSTYLE)), L"LISTBOX", nullptr, style, 0, 0,
                            r.right + 2 * GetSystemMetrics(SM_CXEDGE), r.bottom + 2 * GetSystemMetrics(SM_CYEDGE),
                            w.hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(list_, WM_SETFONT, SendMessageW(w.log(), WM_GETFONT, 0, 0), FALSE);
  }
  ~LineByLineLog() { DestroyWindow(list_); }
  HWND list() const { return list_; }
  void Add(const std::wstring& line, int length) {
    while (SendMessageW(list_, LB_GETCOUNT, 0, 0) > length - 1) SendMessageW(list_, LB_DELETESTRING, 0, 0);
    SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(SendMessageW(list_, LB_GETCOUNT, 0, 0) - 1), 0);
  }
  void Shorten(int length) {
    while (SendMessageW(list_, LB_GETCOUNT, 0, 0) > length) SendMessageW(list_, LB_DELETESTRING, 0, 0);
  }
  void Clear() { SendMessageW(list_, LB_RESETCONTENT, 0, 0); }

 private:
  HWND list_ = nullptr;
};

unsigned SeedFromEnvironment(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

// Where the two logs first differ, with the lines around it.
std::string FirstDifference(const std::vector<std::wstring>& shown, const std::vector<std::wstring>& expected) {
  size_t i = 0;
  while (i < shown.size() && i < expected.size() && shown[i] == expected[i]) ++i;
  if (i == shown.size() && i == expected.size()) return "";
  std::string out = "first difference at line " + std::to_string(i) + " of " + std::to_string(shown.size()) + " shown, " +
                    std::to_string(expected.size()) + " expected:";
  for (size_t k = i > 2 ? i - 2 : 0; k < i + 3; ++k)
    out += "\n  " + std::to_string(k) + ": shown \"" +
           (k < shown.size() ? testing::PrintToString(shown[k]) : std::string("-")) + "\" expected \"" +
           (k < expected.size() ? testing::PrintToString(expected[k]) : std::string("-")) + "\"";
  return out;
}

// A long generated stream of messages into a watched window, with the user's switches between them
// (decimal parameters, pause, clear, a log length of 2,000 and back), and the log brought up to date
// after bursts of random length: short ones, ones that cross the 501 line cap, ones longer than the
// log. After every update the log equals the line-by-line log: its lines, the selected line and the
// first line in view. SNOOPET_LOG_STREAM_SEED replays a case, SNOOPET_LOG_STREAM_MESSAGES makes the
// stream longer.
TEST_F(LogDisplay, EveryUpdateLeavesTheLinesThatAddingEachLineAsItCameWould) {
  const unsigned seed = SeedFromEnvironment("SNOOPET_LOG_STREAM_SEED", 20261210);
  const unsigned total = SeedFromEnvironment("SNOOPET_LOG_STREAM_MESSAGES", 15000);
  SCOPED_TRACE("seed " + std::to_string(seed) + " (SNOOPET_LOG_STREAM_SEED replays it)");
  std::mt19937 random(seed);
  auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };

  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  ASSERT_TRUE(SpyPressed());
  LineByLineLog expected(w);
  bool decimal = false, paused = false;
  int length = 501;
  unsigned updates = 0, past_cap = 0, straddling = 0, straddling_long = 0;

  auto compare = [&](const char* after) {
    const auto shown = ListLines(w.log()), lines = ListLines(expected.list());
    const std::string difference = FirstDifference(shown, lines);
    EXPECT_EQ("", difference) << "after " << after << ", update " << updates;
    EXPECT_EQ(SendMessageW(expected.list(), LB_GETCURSEL, 0, 0), SendMessageW(w.log(), LB_GETCURSEL, 0, 0))
        << "update " << updates;
    EXPECT_EQ(SendMessageW(expected.list(), LB_GETTOPINDEX, 0, 0), SendMessageW(w.log(), LB_GETTOPINDEX, 0, 0))
        << "update " << updates;
    EXPECT_EQ(shown.size(), w.store().size()) << "one record per line";
    return difference.empty();
  };

  for (unsigned sent = 0; sent < total && !HasFailure();) {
    // A burst: mostly short, now and then past the cap or longer than the whole log.
    const unsigned kind = pick(10);
    const unsigned burst = kind < 7 ? 1 + pick(40) : kind < 9 ? 300 + pick(400) : 1200 + pick(1500);
    const LRESULT before = SendMessageW(expected.list(), LB_GETCOUNT, 0, 0);
    for (unsigned i = 0; i < burst; ++i, ++sent) {
      UINT msg = 0;
      switch (pick(4)) {
        case 0: msg = WM_NULL; break;
        case 1: msg = WM_USER + pick(0x400); break;
        case 2: msg = WM_APP + pick(0x4000); break;
        default: msg = 0xC000 + pick(0x3FFF); break;
      }
      const auto wp = static_cast<WPARAM>(pick(3) == 0 ? static_cast<LONG_PTR>(random()) : static_cast<LONG_PTR>(pick(100)));
      const auto lp = static_cast<LPARAM>(pick(3) == 0 ? -static_cast<LONG_PTR>(pick(70000)) : static_cast<LONG_PTR>(random()));
      SendMessageW(target.hwnd(), msg, wp, lp);
      if (!paused) {
        const auto& names = w.message_names();
        expected.Add(decimal ? names.FormatDecimalLine(static_cast<int32_t>(msg), static_cast<LONG_PTR>(wp), lp)
                             : names.FormatLine(static_cast<int32_t>(msg), static_cast<LONG_PTR>(wp), lp),
                     length);
      }
    }
    if (!paused && before + static_cast<LRESULT>(burst) > length) {
      (burst >= static_cast<unsigned>(length) ? past_cap : straddling)++;
      if (length > 501 && burst < static_cast<unsigned>(length)) ++straddling_long;
    }
    // The display tick: mostly called as the timer calls it, now and then the timer itself.
    if (pick(8) == 0) {
      const auto last = ListLines(expected.list());
      for (int i = 0; i < 100 && ListLines(w.log()) != last; ++i) PumpFor(20);
    } else {
      w.UpdateLog();
    }
    ++updates;
    if (!compare("a burst")) break;
    // The second half runs with the longer log (so that it fills up and overflows too).
    if (sent >= total / 2 && length == 501) {
      length = 2000;
      w.SetLogLength(length);
      expected.Shorten(length);
    }
    // The user's switches, now and then.
    switch (pick(16)) {
      case 0:
        decimal = !decimal;
        w.SetDecimal(decimal);
        break;
      case 1:
        paused = !paused;
        w.SetPaused(paused);
        break;
      case 2:
        w.ClearLog();
        expected.Clear();
        compare("Clear");
        break;
      case 3:
        if (sent >= total / 2) break;
        length = length == 501 ? 2000 : 501;
        w.SetLogLength(length);
        expected.Shorten(length);
        compare("a new length");
        break;
      default: break;
    }
  }
  EXPECT_GE(updates, 20u);
  EXPECT_GE(past_cap, 3u) << "bursts longer than the log";
  EXPECT_GE(straddling, 3u) << "bursts across the cap";
  EXPECT_GE(straddling_long, 2u) << "bursts across a length the user set";
}

// The sink only keeps records: until the display tick nothing on screen changes, and the tick
// comes by itself (a thread timer) within a few frames.
TEST_F(LogDisplay, TheSinkLeavesTheScreenToTheDisplayTimer) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ClickToolbar(1);
  w.UpdateLog();
  for (int i = 0; i < 700; ++i) SendMessageW(target.hwnd(), WM_USER, static_cast<WPARAM>(i), 0);
  EXPECT_EQ(0, SendMessageW(w.log(), LB_GETCOUNT, 0, 0)) << "no line before the display tick";
  EXPECT_EQ(501u, w.store().size());
  const DWORD start = GetTickCount();
  while (SendMessageW(w.log(), LB_GETCOUNT, 0, 0) == 0 && GetTickCount() - start < 2000) PumpFor(5);
  EXPECT_LE(GetTickCount() - start, 500u) << "the timer brings the log up to date";
  const auto lines = ListLines(w.log());
  ASSERT_EQ(501u, lines.size());
  EXPECT_EQ(L"400, C7, 0", lines.front());
  EXPECT_EQ(L"400, 2BB, 0", lines.back());
  EXPECT_EQ(500, SendMessageW(w.log(), LB_GETCURSEL, 0, 0));
  EXPECT_FALSE(GetUpdateRect(w.log(), nullptr, FALSE)) << "painted";
}

}  // namespace
}  // namespace spy_test
