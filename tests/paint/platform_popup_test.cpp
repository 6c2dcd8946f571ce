// The platform's own WM_DRAWITEM, from a popup really opened on the display, painted through
// DrawMenuItem and read back from the screen.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "canvas.h"
#include "item_paint.h"

using paint_tests::Brightness;
using paint_tests::Canvas;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);

struct PopupRun {
  paint_tests::MenuBench bench;
  common::com_ptr<IDispatch> images;
  std::map<UINT, DRAWITEMSTRUCT> last_draw;  // by item id, as the platform sent it
  std::vector<LONG> results;
  int idles = 0;
  HWND popup = nullptr;
  Canvas* shot = nullptr;
  POINT client_origin{};  // the popup's client area within its window
};

PopupRun* g_run = nullptr;

LRESULT CALLBACK OwnerProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_MEASUREITEM: {
      auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
      const glyphary::ItemRecord& r = g_run->bench.record(glyphary::ItemSlot(static_cast<uint32_t>(mis->itemData)));
      mis->itemWidth = 160;
      mis->itemHeight = (r.ItemType & MFT_SEPARATOR) ? 10 : 22;
      return 1;
    }
    case WM_DRAWITEM: {
      const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      const LONG result = glyphary::DrawMenuItem(g_run->bench.context, lp);
      g_run->results.push_back(result);
      g_run->last_draw[dis->itemID] = *dis;
      return result;
    }
    case WM_ENTERIDLE:
      if (wp == MSGF_MENU) {
        if (++g_run->idles == 1) {
          PostMessageW(w, WM_KEYDOWN, VK_DOWN, 0);  // highlight the first item
        } else if (!g_run->shot) {
          g_run->popup = reinterpret_cast<HWND>(lp);
          RECT window;
          GetWindowRect(g_run->popup, &window);
          POINT origin{0, 0};
          ClientToScreen(g_run->popup, &origin);
          g_run->client_origin = {origin.x - window.left, origin.y - window.top};
          g_run->shot = new Canvas(window.right - window.left, window.bottom - window.top);
          HDC dc = GetWindowDC(g_run->popup);
          BitBlt(g_run->shot->dc(), 0, 0, g_run->shot->width(), g_run->shot->height(), dc, 0, 0, SRCCOPY);
          ReleaseDC(g_run->popup, dc);
          EndMenu();
        }
      }
      return 0;
    default:
      return DefWindowProcW(w, msg, wp, lp);
  }
}

TEST(PlatformPopup, ItemsOfARealPopupArePaintedWhereThePlatformSaysAndShowOnScreen) {
  paint_tests::DistinctMenuColors colors;
  PopupRun run;
  g_run = &run;
  run.images = paint_tests::MakeImageList(16, 16, 1, [](int, int x, int y) {
    return x == 0 && y == 0 ? kRed : RGB(0, 0, 255);
  });
  run.bench.context.image_list = run.images.get();
  run.bench.context.cell_width = 22;
  run.bench.context.cell_height = 22;
  const int open = run.bench.Add(L"&Open...\tCtrl+O", 1);
  const int separator = run.bench.Add(L"", -1, false, true);
  const int wrap = run.bench.Add(L"&Word wrap", -1);
  CheckMenuItem(run.bench.menu(), run.bench.IdOf(wrap), MF_BYCOMMAND | MF_CHECKED);

  WNDCLASSW wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"PaintTestsPopupOwner";
  RegisterClassW(&wc);
  HWND owner = CreateWindowW(wc.lpszClassName, L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                             nullptr, wc.hInstance, nullptr);
  ASSERT_NE(nullptr, owner);
  SetForegroundWindow(owner);
  SetTimer(owner, 1, 10000, nullptr);  // a popup that never idles must not hang the run
  TrackPopupMenu(run.bench.menu(), TPM_LEFTALIGN | TPM_TOPALIGN, 40, 40, 0, owner, nullptr);
  DestroyWindow(owner);
  g_run = nullptr;

  ASSERT_NE(nullptr, run.shot) << "the popup never became idle";
  std::unique_ptr<Canvas> shot(run.shot);
  ASSERT_EQ(3u, run.last_draw.size()) << "every item was drawn through WM_DRAWITEM";
  for (LONG r : run.results) EXPECT_EQ(1, r);

  // Coordinates of rcItem are those of the context the platform lent, the popup's client area.
  auto at = [&](LONG x, LONG y) { return shot->At(x + run.client_origin.x, y + run.client_origin.y); };
  const RECT o = run.last_draw[run.bench.IdOf(open)].rcItem;
  EXPECT_NE(0u, run.last_draw[run.bench.IdOf(open)].itemState & ODS_SELECTED);
  const LONG cell_top = o.top + (o.bottom - o.top - 22) / 2;
  EXPECT_EQ(kRed, at(o.left + 3, cell_top + 3)) << "the picture at the cell's corner plus 3";
  EXPECT_GT(Brightness(at(o.left, cell_top + 10)), Brightness(at(o.left + 21, cell_top + 10))) << "raised cell";
  EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), at(o.left + 24, o.top));
  EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), at(o.right - 1, o.bottom - 1));

  const RECT s = run.last_draw[run.bench.IdOf(separator)].rcItem;
  const LONG line = (s.top + s.bottom) / 2 - 1;  // 10 pixels high: the middle is exact
  EXPECT_EQ(GetSysColor(COLOR_BTNSHADOW), at(s.left + 30, line));

  const DRAWITEMSTRUCT& w = run.last_draw[run.bench.IdOf(wrap)];
  EXPECT_NE(0u, w.itemState & ODS_CHECKED);
  const LONG wrap_top = w.rcItem.top + (w.rcItem.bottom - w.rcItem.top - 22) / 2;
  EXPECT_LT(Brightness(at(w.rcItem.left, wrap_top + 10)), Brightness(at(w.rcItem.left + 21, wrap_top + 10)))
      << "the checked item's cell is sunken round the standard mark";
}

}  // namespace
