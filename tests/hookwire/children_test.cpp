// Children, Caption, ClassName and CannotSubclass of windows the test builds or finds.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "system_program.h"
#include "test_window.h"

using common::com_ptr;
using common::unique_bstr;
using testing_support::NewHookwireWindow;
using testing_support::TestWindow;
using testing_support::Bitness;
using testing_support::kIs64Bit;
using testing_support::SystemProgram;

namespace {

std::wstring Text(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

std::wstring CaptionOf(_HookwireWindow* w) {
  unique_bstr s;
  EXPECT_EQ(S_OK, w->get_Caption(s.put()));
  return Text(s.get());
}

LONG HandleOf(IDispatch* d) {
  com_ptr<_HookwireWindow> w;
  EXPECT_EQ(S_OK, d->QueryInterface(IID__HookwireWindow, w.put_void()));
  LONG h = 0;
  w->get_hWnd(&h);
  return h;
}

}  // namespace

TEST(Children, DirectChildrenInZOrderByIndexAndForEach) {
  TestWindow parent(nullptr, L"parent");
  TestWindow a(parent.hwnd(), L"a"), b(parent.hwnd(), L"b"), c(parent.hwnd(), L"c");
  TestWindow grandchild(b.hwnd(), L"grandchild");
  // Put c on top: Z-order, not creation order, decides.
  SetWindowPos(c.hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  std::vector<LONG> expected;
  for (HWND h = GetWindow(parent.hwnd(), GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
    expected.push_back(static_cast<LONG>(reinterpret_cast<LONG_PTR>(h)));
  ASSERT_EQ(3u, expected.size());
  EXPECT_EQ(c.handle(), expected.front());

  auto w = NewHookwireWindow();
  ASSERT_EQ(S_OK, w->put_hWnd(parent.handle()));
  com_ptr<_HookwireWindows> kids;
  ASSERT_EQ(S_OK, w->get_Children(kids.put()));
  LONG n = 0;
  ASSERT_EQ(S_OK, kids->get_Count(&n));
  ASSERT_EQ(3, n);
  for (LONG i = 1; i <= n; ++i) {
    com_ptr<_HookwireWindow> k;
    ASSERT_EQ(S_OK, kids->get_Item(i, k.put()));
    LONG h = 0;
    k->get_hWnd(&h);
    EXPECT_EQ(expected[static_cast<size_t>(i - 1)], h);
  }
  com_ptr<_HookwireWindow> none;
  EXPECT_EQ(static_cast<HRESULT>(0x800A0009), kids->get_Item(0, none.put()));
  EXPECT_EQ(static_cast<HRESULT>(0x800A0009), kids->get_Item(4, none.put()));

  // For Each: _NewEnum hands out an IEnumVARIANT of window objects.
  com_ptr<IUnknown> unk;
  ASSERT_EQ(S_OK, kids->get__NewEnum(unk.put()));
  com_ptr<IEnumVARIANT> e = unk.query<IEnumVARIANT>(IID_IEnumVARIANT);
  ASSERT_TRUE(e);
  std::vector<LONG> seen;
  VARIANT v[2];
  ULONG got = 0;
  while (e->Next(2, v, &got) == S_OK || got) {
    for (ULONG i = 0; i < got; ++i) {
      EXPECT_EQ(VT_DISPATCH, v[i].vt);
      seen.push_back(HandleOf(v[i].pdispVal));
      VariantClear(&v[i]);
    }
    if (got < 2) break;
  }
  EXPECT_EQ(expected, seen);

  // The grandchild is a child of b only.
  com_ptr<_HookwireWindow> bobj = NewHookwireWindow();
  bobj->put_hWnd(b.handle());
  com_ptr<_HookwireWindows> bkids;
  ASSERT_EQ(S_OK, bobj->get_Children(bkids.put()));
  ASSERT_EQ(S_OK, bkids->get_Count(&n));
  EXPECT_EQ(1, n);
}

TEST(Children, DesktopListsTopLevelWindows) {
  TestWindow top(nullptr, L"a top-level window of the test");
  auto w = NewHookwireWindow();
  ASSERT_EQ(S_OK, w->AttachDesktop());
  LONG h = 0;
  w->get_hWnd(&h);
  EXPECT_EQ(static_cast<LONG>(reinterpret_cast<LONG_PTR>(GetDesktopWindow())), h);
  VARIANT_BOOL cannot = VARIANT_FALSE;
  EXPECT_EQ(S_OK, w->get_CannotSubclass(&cannot));
  EXPECT_EQ(VARIANT_TRUE, cannot) << "the desktop window is never subclassed";
  com_ptr<_HookwireWindows> kids;
  ASSERT_EQ(S_OK, w->get_Children(kids.put()));
  LONG n = 0;
  kids->get_Count(&n);
  bool found = false;
  for (LONG i = 1; i <= n; ++i) {
    com_ptr<_HookwireWindow> k;
    kids->get_Item(i, k.put());
    LONG kh = 0;
    k->get_hWnd(&kh);
    found = found || kh == top.handle();
  }
  EXPECT_TRUE(found);
}

TEST(Children, CaptionClassNameAndMenu) {
  TestWindow win(nullptr, L"Caption \u00e9 text");
  HMENU bar = CreateMenu();
  AppendMenuW(bar, MF_STRING, 1, L"&File");
  SetMenu(win.hwnd(), bar);
  TestWindow child(win.hwnd(), L"child");
  auto w = NewHookwireWindow();
  ASSERT_EQ(S_OK, w->put_hWnd(win.handle()));
  EXPECT_EQ(L"Caption \u00e9 text", CaptionOf(w.get()));
  unique_bstr cls;
  ASSERT_EQ(S_OK, w->get_ClassName(cls.put()));
  EXPECT_EQ(L"HookwireTestWindow", Text(cls.get()));
  LONG m = 0;
  EXPECT_EQ(S_OK, w->get_hMenu(&m));
  EXPECT_EQ(static_cast<LONG>(reinterpret_cast<LONG_PTR>(bar)), m);
  ASSERT_EQ(S_OK, w->put_hWnd(child.handle()));
  EXPECT_EQ(S_OK, w->get_hMenu(&m));
  EXPECT_EQ(0, m) << "a child window has no menu bar";
}

// A window of another thread is watched through the hook, and reading its caption never hangs.
TEST(Children, OtherThreadWindowCaptionIsBounded) {
  HWND other = nullptr;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread t([&] {
    TestWindow win(nullptr, L"other thread");
    other = win.hwnd();
    SetEvent(ready);
    WaitForSingleObject(release, 10000);  // hung: pumps nothing
  });
  WaitForSingleObject(ready, 5000);
  auto w = NewHookwireWindow();
  ASSERT_EQ(S_OK, w->put_hWnd(static_cast<LONG>(reinterpret_cast<LONG_PTR>(other))));
  VARIANT_BOOL cannot = VARIANT_TRUE;
  EXPECT_EQ(S_OK, w->get_CannotSubclass(&cannot));
  EXPECT_EQ(VARIANT_FALSE, cannot);
  auto start = std::chrono::steady_clock::now();
  std::wstring caption = CaptionOf(w.get());
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 2000) << "the caption of a program that does not answer comes back in bounded time";
  EXPECT_EQ(L"", caption);
  SetEvent(release);
  t.join();
  CloseHandle(ready);
  CloseHandle(release);
}

TEST(Children, AnotherProcessWindowIsAcceptedAndCanBeWatched) {
  // Notepad of either bitness beside this test on the 64-bit desktop: any existing window is
  // accepted and can be watched (one of the other bitness through the companion program).
  for (Bitness bitness : {Bitness::Same, Bitness::Other}) {
    const bool same = bitness == Bitness::Same;
    SystemProgram notepad(L"notepad.exe", bitness);
    ASSERT_NE(nullptr, notepad.window()) << "no window of " << std::string(notepad.path().begin(), notepad.path().end());
    EXPECT_EQ(same == kIs64Bit, notepad.Is64Bit()) << "the program runs in the bitness asked for";
    auto w = NewHookwireWindow();
    const LONG handle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(notepad.window()));
    ASSERT_EQ(S_OK, w->put_hWnd(handle));
    LONG h = 0;
    w->get_hWnd(&h);
    EXPECT_EQ(handle, h) << "any existing window is accepted";
    VARIANT_BOOL cannot = VARIANT_TRUE;
    EXPECT_EQ(S_OK, w->get_CannotSubclass(&cannot));
    EXPECT_EQ(VARIANT_FALSE, cannot) << (same ? "same" : "other") << " bitness";
  }
}

// Children lists a snapshot of what is there; a window that closes while the list is taken must not
// cut the list short. Another thread keeps creating and closing children on top of a stable one at
// the bottom of the Z-order; every list taken meanwhile must hold the stable one.
TEST(Children, WindowsClosingDuringTheWalkDoNotCutTheListShort) {
  HWND parent = nullptr, stable = nullptr;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  volatile LONG stop = 0;
  LONG churned = 0;
  std::thread t([&] {
    TestWindow p(nullptr, L"churning parent");
    TestWindow s(p.hwnd(), L"stable");
    parent = p.hwnd();
    stable = s.hwnd();
    SetWindowPos(stable, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetEvent(ready);
    std::vector<HWND> live;
    while (!stop) {
      HWND c = CreateWindowExW(WS_EX_NOPARENTNOTIFY, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, parent, nullptr,
                               nullptr, nullptr);
      SetWindowPos(c, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      live.push_back(c);
      if (live.size() > 6) {
        DestroyWindow(live.front());
        live.erase(live.begin());
        ++churned;
      }
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
    for (HWND c : live) DestroyWindow(c);
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 5000));
  auto w = NewHookwireWindow();
  ASSERT_EQ(S_OK, w->put_hWnd(static_cast<LONG>(reinterpret_cast<LONG_PTR>(parent))));
  const LONG want = static_cast<LONG>(reinterpret_cast<LONG_PTR>(stable));
  int lists = 0, short_lists = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  while (std::chrono::steady_clock::now() < end) {
    com_ptr<_HookwireWindows> kids;
    ASSERT_EQ(S_OK, w->get_Children(kids.put()));
    LONG n = 0;
    kids->get_Count(&n);
    bool found = false;
    for (LONG i = n; i >= 1 && !found; --i) {
      com_ptr<_HookwireWindow> k;
      kids->get_Item(i, k.put());
      LONG h = 0;
      k->get_hWnd(&h);
      found = h == want;
    }
    ++lists;
    if (!found) ++short_lists;
  }
  stop = 1;
  t.join();
  CloseHandle(ready);
  std::printf("[ figures  ] %d lists taken while %ld children were closed\n", lists, churned);
  EXPECT_GT(churned, 100) << "the other thread kept closing windows";
  EXPECT_EQ(0, short_lists) << "lists that missed the child at the bottom, of " << lists;
}
