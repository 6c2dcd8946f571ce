// Subclassing a window of the test's own thread, through COM as a client does.
#include <gtest/gtest.h>

#include "test_window.h"

using common::com_ptr;
using testing_support::NewHookwireWindow;
using testing_support::Sink;
using testing_support::TestWindow;

namespace {

constexpr LONG kAll = 0xFFFF;
constexpr UINT kA = WM_USER + 1;
constexpr UINT kB = WM_USER + 2;

// Attach in the client's order: hWnd, test, watch, subclass, sink.
com_ptr<_HookwireWindow> Attach(HWND h, Sink& sink, std::initializer_list<LONG> msgs) {
  com_ptr<_HookwireWindow> w = NewHookwireWindow();
  EXPECT_EQ(S_OK, w->put_hWnd(static_cast<LONG>(reinterpret_cast<LONG_PTR>(h))));
  VARIANT_BOOL cannot = VARIANT_TRUE;
  EXPECT_EQ(S_OK, w->get_CannotSubclass(&cannot));
  EXPECT_EQ(VARIANT_FALSE, cannot);
  for (LONG m : msgs) EXPECT_EQ(S_OK, w->put_WatchMessage(m, VARIANT_TRUE));
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE));
  EXPECT_EQ(S_OK, w->putref_MessageSink(&sink));
  return w;
}

}  // namespace

TEST(Subclass, AttachDeliversOnlyWatchedMessagesAndDetachStops) {
  TestWindow win(nullptr, L"w", 7);
  Sink sink;
  auto w = Attach(win.hwnd(), sink, {static_cast<LONG>(kA)});
  EXPECT_EQ(7, SendMessageW(win.hwnd(), kA, 1, 2));
  EXPECT_EQ(7, SendMessageW(win.hwnd(), kB, 1, 2));
  EXPECT_EQ(std::vector<LONG>{static_cast<LONG>(kA)}, sink.received);
  // Both messages reached the window's own procedure: the sink neither answered nor passed on.
  EXPECT_EQ((std::vector<UINT>{kA, kB}), win.seen);

  // Detach: subclassing off and sink cleared, in either order.
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
  EXPECT_EQ(S_OK, w->putref_MessageSink(nullptr));
  SendMessageW(win.hwnd(), kA, 0, 0);
  EXPECT_EQ(1u, sink.received.size());
  EXPECT_EQ(3u, win.seen.size());
}

TEST(Subclass, AllMessagesWatchesEverythingAndFalseWithdrawsEveryRegistration) {
  TestWindow win;
  Sink sink;
  auto w = Attach(win.hwnd(), sink, {kAll});
  SendMessageW(win.hwnd(), kA, 0, 0);
  SendMessageW(win.hwnd(), WM_NULL, 0, 0);
  SendMessageW(win.hwnd(), 0xC123, 0, 0);
  EXPECT_EQ((std::vector<LONG>{static_cast<LONG>(kA), WM_NULL, 0xC123}), sink.received);

  ASSERT_EQ(S_OK, w->put_WatchMessage(static_cast<LONG>(kB), VARIANT_TRUE));
  ASSERT_EQ(S_OK, w->put_WatchMessage(kAll, VARIANT_FALSE));
  sink.received.clear();
  SendMessageW(win.hwnd(), kA, 0, 0);
  SendMessageW(win.hwnd(), kB, 0, 0);
  EXPECT_TRUE(sink.received.empty()) << "False for AllMessages withdraws single registrations too";

  ASSERT_EQ(S_OK, w->put_WatchMessage(static_cast<LONG>(kB), VARIANT_TRUE));
  ASSERT_EQ(S_OK, w->put_WatchMessage(static_cast<LONG>(kB), VARIANT_FALSE));
  SendMessageW(win.hwnd(), kB, 0, 0);
  EXPECT_TRUE(sink.received.empty());
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

TEST(Subclass, SinkAnswersThroughResultOrPassesOn) {
  // The menu component's pattern: some messages answered through result, others passed on.
  TestWindow win(nullptr, L"w", 7);
  Sink sink;
  auto w = Attach(win.hwnd(), sink, {static_cast<LONG>(kA), static_cast<LONG>(kB)});
  sink.handler = [&](LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR* result) -> HRESULT {
    if (msg == static_cast<LONG>(kA)) {
      *result = 42;
      return S_OK;
    }
    LONG_PTR prev = 0;
    HRESULT hr = w->CallPrevWndProc(msg, wp, lp, &prev);
    *result = prev + 1;
    return hr;
  };
  EXPECT_EQ(42, SendMessageW(win.hwnd(), kA, 0, 0));
  EXPECT_TRUE(win.seen.empty()) << "an answered message does not reach the window's procedure";
  EXPECT_EQ(8, SendMessageW(win.hwnd(), kB, 0, 0));
  EXPECT_EQ(std::vector<UINT>{kB}, win.seen) << "passed on exactly once";

  // A sink that passes on and leaves result at 0 still ran the procedure only once.
  win.reply = 0;
  win.seen.clear();
  sink.handler = [&](LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR*) -> HRESULT {
    LONG_PTR prev = 0;
    return w->CallPrevWndProc(msg, wp, lp, &prev);
  };
  EXPECT_EQ(0, SendMessageW(win.hwnd(), kB, 0, 0));
  EXPECT_EQ(std::vector<UINT>{kB}, win.seen);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

// Only a window handle's low 32 bits count: once bit 31 is set, the platform hands a 64-bit
// process's procedure the same window sign-extended in some messages and zero-extended in others
// (a form's menu bar items were measured and drawn by nobody). The procedure called with the other
// extension of the handle still reaches the sink and the window's own procedure.
TEST(Subclass, TheWindowsProcedureKnowsItsWindowByTheHandlesLow32Bits) {
  TestWindow win(nullptr, L"w", 7);
  Sink sink;
  auto w = Attach(win.hwnd(), sink, {static_cast<LONG>(kA)});
  const auto value = reinterpret_cast<ULONG_PTR>(win.hwnd());
  // Bit 31 set: the zero-extended form; otherwise the upper half set, as a sign-extension would.
  ULONG_PTR other = value;
  if constexpr (sizeof(ULONG_PTR) == 8) other = static_cast<uint32_t>(value) | ((value & 0x80000000u) ? 0 : ~ULONG_PTR{0xFFFFFFFFu});
  const auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(win.hwnd(), GWLP_WNDPROC));
  EXPECT_EQ(7, CallWindowProcW(proc, reinterpret_cast<HWND>(other), kA, 1, 2));
  EXPECT_EQ(std::vector<LONG>{static_cast<LONG>(kA)}, sink.received) << std::hex << value << " called as " << other;
  EXPECT_EQ(std::vector<UINT>{kA}, win.seen);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

TEST(Subclass, ReleaseWhileSubclassedLeavesAWorkingWindow) {
  TestWindow win(nullptr, L"w", 9);
  Sink sink;
  {
    auto w = Attach(win.hwnd(), sink, {kAll});
  }
  EXPECT_EQ(9, SendMessageW(win.hwnd(), kA, 0, 0));
  EXPECT_TRUE(sink.received.empty());
  EXPECT_EQ(std::vector<UINT>{kA}, win.seen);
}

TEST(Subclass, DestroyWhileSubclassed) {
  auto win = std::make_unique<TestWindow>();
  Sink sink;
  auto w = Attach(win->hwnd(), sink, {kAll});
  win->Destroy();
  EXPECT_NE(sink.received.end(), std::find(sink.received.begin(), sink.received.end(), WM_NCDESTROY));
  LONG h = -1;
  EXPECT_EQ(S_OK, w->get_hWnd(&h));
  EXPECT_EQ(0, h);
  common::unique_bstr caption, cls;
  EXPECT_EQ(S_OK, w->get_Caption(caption.put()));
  EXPECT_EQ(0u, caption.length());
  EXPECT_EQ(S_OK, w->get_ClassName(cls.put()));
  EXPECT_EQ(0u, cls.length());
  VARIANT_BOOL sub = VARIANT_TRUE;
  EXPECT_EQ(S_OK, w->get_Subclassed(&sub));
  EXPECT_EQ(VARIANT_FALSE, sub);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

TEST(Subclass, TwoObjectsOnOneWindowRemovedInEitherOrder) {
  for (bool first_goes_first : {true, false}) {
    TestWindow win(nullptr, L"w", 5);
    Sink s1, s2;
    auto w1 = Attach(win.hwnd(), s1, {kAll});
    auto w2 = Attach(win.hwnd(), s2, {kAll});
    EXPECT_EQ(5, SendMessageW(win.hwnd(), kA, 0, 0));
    EXPECT_EQ(1u, s1.received.size());
    EXPECT_EQ(1u, s2.received.size());
    EXPECT_EQ(1u, win.seen.size());
    (first_goes_first ? w1 : w2).reset();
    EXPECT_EQ(5, SendMessageW(win.hwnd(), kA, 0, 0));
    EXPECT_EQ(first_goes_first ? 1u : 2u, s1.received.size());
    EXPECT_EQ(first_goes_first ? 2u : 1u, s2.received.size());
    (first_goes_first ? w2 : w1).reset();
    EXPECT_EQ(5, SendMessageW(win.hwnd(), kA, 0, 0));
    EXPECT_EQ(3u, win.seen.size());
  }
}

TEST(Subclass, SinkMayClearItselfOrReleaseTheWindowObjectInsideMessage) {
  TestWindow win(nullptr, L"w", 3);
  Sink sink;
  auto w = Attach(win.hwnd(), sink, {kAll});
  sink.handler = [&](LONG, LONG_PTR, LONG_PTR, LONG_PTR*) -> HRESULT { return w->putref_MessageSink(nullptr); };
  EXPECT_EQ(3, SendMessageW(win.hwnd(), kA, 0, 0));
  EXPECT_EQ(3, SendMessageW(win.hwnd(), kA, 0, 0));
  EXPECT_EQ(1u, sink.received.size());

  ASSERT_EQ(S_OK, w->putref_MessageSink(&sink));
  sink.handler = [&](LONG, LONG_PTR, LONG_PTR, LONG_PTR*) -> HRESULT {
    w.reset();  // the last reference goes while the message is being delivered
    return S_OK;
  };
  EXPECT_EQ(3, SendMessageW(win.hwnd(), kA, 0, 0));
  EXPECT_FALSE(w);
  EXPECT_EQ(3, SendMessageW(win.hwnd(), kA, 0, 0));
  EXPECT_EQ(2u, sink.received.size());
  EXPECT_EQ(1, sink.refs()) << "the delivery's reference on the sink was given back";
}

TEST(Subclass, SwitchingWindowsWhileSubclassedMovesTheSubclass) {
  TestWindow a, b;
  Sink sink;
  auto w = Attach(a.hwnd(), sink, {kAll});
  ASSERT_EQ(S_OK, w->put_hWnd(b.handle()));
  ASSERT_EQ(S_OK, w->put_WatchMessage(kAll, VARIANT_TRUE));
  ASSERT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE));
  SendMessageW(a.hwnd(), kA, 0, 0);
  SendMessageW(b.hwnd(), kB, 0, 0);
  EXPECT_EQ(std::vector<LONG>{static_cast<LONG>(kB)}, sink.received);
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

TEST(Subclass, FailuresAreHresultsWithErrorInformation) {
  auto w = NewHookwireWindow();
  EXPECT_EQ(S_OK, w->put_hWnd(0x7FFF0000));  // no such window
  LONG h = -1;
  EXPECT_EQ(S_OK, w->get_hWnd(&h));
  EXPECT_EQ(0, h);
  VARIANT_BOOL cannot = VARIANT_FALSE;
  EXPECT_EQ(S_OK, w->get_CannotSubclass(&cannot));
  EXPECT_EQ(VARIANT_TRUE, cannot);

  HRESULT hr = w->put_Subclassed(VARIANT_TRUE);
  EXPECT_EQ(static_cast<HRESULT>(0x800A005B), hr);  // 91: nothing to subclass
  EXPECT_FALSE(testing_support::LastErrorDescription().empty());

  EXPECT_EQ(static_cast<HRESULT>(0x800A0005), w->put_WatchMessage(-1, VARIANT_TRUE));
  EXPECT_EQ(static_cast<HRESULT>(0x800A0005), w->put_WatchMessage(0x10000, VARIANT_TRUE));

  TestWindow win;
  ASSERT_EQ(S_OK, w->put_hWnd(win.handle()));
  ASSERT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE));
  LONG_PTR r = 0;
  EXPECT_EQ(static_cast<HRESULT>(0x800A0005), w->CallPrevWndProc(kA, 0, 0, &r))
      << "outside a delivery there is no previous procedure to run";
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_FALSE));
}

namespace {
// A procedure put in above the component's by someone else, the classic way.
WNDPROC g_foreign_previous = nullptr;
int g_foreign_seen = 0;
LRESULT CALLBACK ForeignProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kA) ++g_foreign_seen;
  return CallWindowProcW(g_foreign_previous, h, msg, wp, lp);
}
}  // namespace

TEST(Subclass, WindowProcedureGivenBackAndForeignLayersAboveKeepWorking) {
  auto win = std::make_unique<TestWindow>(nullptr, L"w", 4);
  const LONG_PTR original = GetWindowLongPtrW(win->hwnd(), GWLP_WNDPROC);
  Sink s1, s2;
  auto w1 = Attach(win->hwnd(), s1, {kAll});
  EXPECT_NE(original, GetWindowLongPtrW(win->hwnd(), GWLP_WNDPROC));
  EXPECT_EQ(S_OK, w1->put_Subclassed(VARIANT_FALSE));
  EXPECT_EQ(original, GetWindowLongPtrW(win->hwnd(), GWLP_WNDPROC)) << "the last layer gone gives the procedure back";

  // Someone subclasses above us; we cannot take our procedure out from under theirs, so it
  // stays and only passes messages on.
  EXPECT_EQ(S_OK, w1->put_Subclassed(VARIANT_TRUE));
  g_foreign_seen = 0;
  g_foreign_previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(win->hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ForeignProc)));
  EXPECT_EQ(4, SendMessageW(win->hwnd(), kA, 0, 0));
  EXPECT_EQ(1, g_foreign_seen);
  const size_t s1_before = s1.received.size();
  EXPECT_EQ(S_OK, w1->put_Subclassed(VARIANT_FALSE));
  w1.reset();
  // No object is left, but the window still runs through our procedure: the DLL must stay.
  auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"Hookwire.dll"), "DllCanUnloadNow")));
  ASSERT_NE(nullptr, can_unload);
  EXPECT_EQ(S_FALSE, can_unload());
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(ForeignProc), GetWindowLongPtrW(win->hwnd(), GWLP_WNDPROC));
  EXPECT_EQ(4, SendMessageW(win->hwnd(), kA, 0, 0));
  EXPECT_EQ(2, g_foreign_seen);
  EXPECT_EQ(s1_before, s1.received.size());
  EXPECT_EQ(2u, win->seen.size()) << "the window's own procedure still gets every message";

  // A new object on the same window joins the chain that stayed behind.
  auto w2 = Attach(win->hwnd(), s2, {static_cast<LONG>(kA)});
  EXPECT_EQ(4, SendMessageW(win->hwnd(), kA, 0, 0));
  EXPECT_EQ(std::vector<LONG>{static_cast<LONG>(kA)}, s2.received);
  EXPECT_EQ(3, g_foreign_seen);
  EXPECT_EQ(3u, win->seen.size());
  win->Destroy();
  LONG h = -1;
  EXPECT_EQ(S_OK, w2->get_hWnd(&h));
  EXPECT_EQ(0, h);
  w2.reset();
  EXPECT_EQ(S_OK, can_unload()) << "the window is gone and no object is left";
}
