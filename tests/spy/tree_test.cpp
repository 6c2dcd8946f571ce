// The window tree of a hierarchy the test builds.
#include "hex.h"
#include "spy_fixture.h"

namespace spy_test {
namespace {

using Tree = SpyTest;
using testing_support::TestWindow;

std::wstring ClassOf(HWND h) {
  wchar_t buf[256] = {};
  GetClassNameW(h, buf, 256);
  return buf;
}

std::wstring Decimal(HWND h) { return std::to_wstring(static_cast<LONG>(reinterpret_cast<LONG_PTR>(h))); }

bool Expanded(HWND tree, HTREEITEM node) {
  return (SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(node), TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
}

int Picture(HWND tree, HTREEITEM node) {
  TVITEMW item{};
  item.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  item.hItem = node;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(item.iImage, item.iSelectedImage) << "no picture of its own for the selected state";
  return item.iImage + 1;
}

// The nodes below `node`, in pre-order, as their keys.
void PreOrder(spy::MainWindow& w, HTREEITEM node, std::vector<std::wstring>& out) {
  for (HTREEITEM c = Next(w.tree(), node, TVGN_CHILD); c; c = Next(w.tree(), c, TVGN_NEXT)) {
    out.push_back(w.NodeKey(c));
    PreOrder(w, c, out);
  }
}

// The same order from the window system: each window, then its children in Z-order.
void WindowPreOrder(HWND parent, std::vector<std::wstring>& out) {
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    out.push_back(KeyOf(c));
    WindowPreOrder(c, out);
  }
}

TEST_F(Tree, MirrorsTheWindowHierarchyWithKeysTextsTagsAndOrder) {
  TestWindow top(nullptr, L"Tree top");
  TestWindow a(top.hwnd(), L"A");
  TestWindow b(top.hwnd(), L"");
  TestWindow c(b.hwnd(), L"C \"quoted\"");
  auto& w = Open(false);
  HWND tv = w.tree();

  HTREEITEM root = Next(tv, nullptr, TVGN_ROOT);
  ASSERT_NE(nullptr, root);
  EXPECT_EQ(nullptr, Next(tv, root, TVGN_NEXT)) << "one root";
  EXPECT_EQ(L"root", w.NodeKey(root));
  EXPECT_EQ(L"\"\" " + ClassOf(GetDesktopWindow()) + L" (Desktop)", NodeText(tv, root));
  EXPECT_EQ(Decimal(GetDesktopWindow()), w.NodeTag(root));
  EXPECT_EQ(3, Picture(tv, root));

  HTREEITEM top_node = w.FindNode(KeyOf(top.hwnd()));
  ASSERT_NE(nullptr, top_node);
  EXPECT_EQ(root, Next(tv, top_node, TVGN_PARENT));
  const std::wstring hex = common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(top.hwnd())));
  EXPECT_EQ(L"\"Tree top\" HookwireTestWindow (" + hex + L")", NodeText(tv, top_node));
  EXPECT_EQ(L"H" + hex, w.NodeKey(top_node));
  EXPECT_EQ(Decimal(top.hwnd()), w.NodeTag(top_node));
  EXPECT_EQ(3, Picture(tv, top_node));

  HTREEITEM b_node = w.FindNode(KeyOf(b.hwnd()));
  HTREEITEM c_node = w.FindNode(KeyOf(c.hwnd()));
  ASSERT_TRUE(b_node && c_node);
  EXPECT_EQ(top_node, Next(tv, b_node, TVGN_PARENT));
  EXPECT_EQ(b_node, Next(tv, c_node, TVGN_PARENT));
  EXPECT_EQ(L"\"\" HookwireTestWindow (" + common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(b.hwnd()))) +
                L")",
            NodeText(tv, b_node))
      << "a window without caption shows two adjacent quotes";
  EXPECT_EQ(0u, NodeText(tv, c_node).rfind(L"\"C \"quoted\"\" HookwireTestWindow (", 0)) << "caption taken as it is";
  EXPECT_EQ(nullptr, Next(tv, c_node, TVGN_CHILD));

  // Siblings in the window system's order, depth first, pre-order.
  std::vector<std::wstring> shown, expected;
  PreOrder(w, top_node, shown);
  WindowPreOrder(top.hwnd(), expected);
  EXPECT_EQ(expected, shown);
  ASSERT_EQ(3u, shown.size());

  // The root is expanded one level; deeper levels start collapsed.
  EXPECT_TRUE(Expanded(tv, root));
  EXPECT_FALSE(Expanded(tv, top_node));
  EXPECT_FALSE(Expanded(tv, b_node));

  // The program's own windows are in the tree too (it was built after they were created).
  EXPECT_NE(nullptr, w.FindNode(KeyOf(w.hwnd())));
  EXPECT_NE(nullptr, w.FindNode(KeyOf(w.log())));
  // Windows created afterwards never appear.
  TestWindow late(nullptr, L"Late");
  PumpFor(20);
  EXPECT_EQ(nullptr, w.FindNode(KeyOf(late.hwnd())));
}

// Windows that close while the tree is being built. Whichever of the test's windows has its
// caption read first destroys the others: they are listed, but gone by the time the tree reads
// them. The walk's order among top-level windows is the desktop's, which other programs change,
// so the test does not depend on which one comes first.
std::vector<HWND> g_doomed;
HWND g_survivor = nullptr;

LRESULT CALLBACK DestroysOthersOnRead(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if ((msg == WM_GETTEXTLENGTH || msg == WM_GETTEXT) && !g_doomed.empty()) {
    std::vector<HWND> doomed;
    doomed.swap(g_doomed);
    g_survivor = h;
    for (HWND d : doomed)
      if (d != h) DestroyWindow(d);
  }
  return DefWindowProcW(h, msg, wp, lp);
}

TEST_F(Tree, WindowsThatCloseWhileTheTreeIsBuiltAreLeftOut) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DestroysOthersOnRead;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"SpyTestVanishing";
  RegisterClassW(&wc);
  std::vector<HWND> made;
  for (int i = 0; i < 5; ++i) {
    made.push_back(CreateWindowExW(0, wc.lpszClassName, L"doomed", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                   nullptr, wc.hInstance, nullptr));
    ASSERT_TRUE(made.back());
  }
  g_survivor = nullptr;
  g_doomed = made;

  spy::MainWindow* w = nullptr;
  EXPECT_NO_THROW(w = &Open(false)) << "start-up does not fail because the desktop changed under it";
  ASSERT_NE(nullptr, w);
  ASSERT_TRUE(g_doomed.empty()) << "the tree read none of the test windows' captions";
  ASSERT_NE(nullptr, g_survivor);
  EXPECT_NE(nullptr, w->FindNode(KeyOf(g_survivor))) << "the window read first is in the tree";
  int gone = 0;
  for (HWND d : made) {
    if (d == g_survivor) continue;
    ++gone;
    EXPECT_FALSE(IsWindow(d));
    EXPECT_EQ(nullptr, w->FindNode(KeyOf(d))) << "a window gone before it was read has no node";
  }
  EXPECT_EQ(4, gone);
  EXPECT_EQ(nullptr, w->FindNode(L"H0"));
  EXPECT_NE(nullptr, w->FindNode(KeyOf(w->hwnd()))) << "the rest of the tree is there";
  DestroyWindow(g_survivor);
  g_survivor = nullptr;
  UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

// A caption with line breaks or other control characters reads as escapes in its node.
TEST_F(Tree, ControlCharactersInACaptionAreWrittenAsEscapes) {
  TestWindow odd(nullptr, L"two\r\nlines\tand\x01");
  auto& w = Open(false);
  HTREEITEM node = w.FindNode(KeyOf(odd.hwnd()));
  ASSERT_NE(nullptr, node);
  EXPECT_EQ(L"\"two\\r\\nlines\\tand\\x01\" " + ClassOf(odd.hwnd()) + L" (" +
                common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(odd.hwnd()))) + L")",
            NodeText(w.tree(), node));
}

}  // namespace
}  // namespace spy_test
