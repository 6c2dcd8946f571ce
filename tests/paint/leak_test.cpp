#include <gtest/gtest.h>

#include "canvas.h"
#include "gdi_counter.h"
#include "item_paint.h"

using testing_support::GdiCounter;
using testing_support::GdiKind;

namespace {

// Every kind of item, painted a thousand times in every state: whatever the painter makes it frees.
TEST(PaintLeaks, AThousandPaintsLeaveTheObjectCountsWhereTheyStarted) {
  ASSERT_GT(GdiCounter::Install(GetModuleHandleW(nullptr)), 0);
  GdiCounter::Install(GetModuleHandleW(L"oleaut32.dll"));
  {
    // The counter itself: a brush made and not yet deleted shows.
    const long before = GdiCounter::Live();
    HBRUSH probe = CreateSolidBrush(RGB(1, 1, 1));
    EXPECT_EQ(before + 1, GdiCounter::Live());
    DeleteObject(probe);
    EXPECT_EQ(before, GdiCounter::Live());
  }

  paint_tests::MenuBench bench;
  common::com_ptr<IDispatch> images =
      paint_tests::MakeImageList(16, 16, 3, [](int i, int x, int) { return x == 0 ? paint_tests::kMask : RGB(40 * i, 0, 200); });
  bench.context.image_list = images.get();
  bench.context.cell_width = 22;
  bench.context.cell_height = 22;
  const int picture = bench.Add(L"&Open...\tCtrl+O", 2);
  const int text = bench.Add(L"&Word wrap", -1);
  const int separator = bench.Add(L"", -1, false, true);
  const int bar = bench.Add(L"&Edit", -1, true);
  const int slots[] = {picture, text, separator, bar};
  const UINT states[] = {0, ODS_SELECTED, ODS_CHECKED, ODS_CHECKED | ODS_SELECTED, ODS_GRAYED, ODS_GRAYED | ODS_SELECTED};

  paint_tests::Canvas canvas(200, 22);
  const long live = GdiCounter::Live();
  long live_by_kind[static_cast<int>(GdiKind::Count)];
  for (int k = 0; k < static_cast<int>(GdiKind::Count); ++k) live_by_kind[k] = GdiCounter::Live(static_cast<GdiKind>(k));
  const long brushes = GdiCounter::Created(GdiKind::Brush);
  const long icons = GdiCounter::Created(GdiKind::Icon);
  const long bitmaps = GdiCounter::Created(GdiKind::Bitmap);
  const long dcs = GdiCounter::Created(GdiKind::MemoryDC);

  for (int i = 0; i < 1000; ++i) {
    const UINT state = states[i % std::size(states)];
    const int slot = slots[(i / std::size(states)) % std::size(slots)];
    ASSERT_EQ(1, bench.Paint(slot, canvas.dc(), RECT{0, 0, 200, 22}, state, i % 2 ? ODA_SELECT : ODA_DRAWENTIRE));
  }

  // The counter saw the painter work (so an unchanged count means something) ...
  EXPECT_GT(GdiCounter::Created(GdiKind::Brush) - brushes, 300);
  EXPECT_GT(GdiCounter::Created(GdiKind::Icon) - icons, 50) << "grayed pictures extract an icon each time";
  EXPECT_GT(GdiCounter::Created(GdiKind::Bitmap) - bitmaps, 50) << "checked items load the standard mark";
  EXPECT_GT(GdiCounter::Created(GdiKind::MemoryDC) - dcs, 50);
  // ... and every object it made is gone.
  EXPECT_EQ(live, GdiCounter::Live());
  for (int k = 0; k < static_cast<int>(GdiKind::Count); ++k)
    EXPECT_EQ(live_by_kind[k], GdiCounter::Live(static_cast<GdiKind>(k))) << "kind " << k;
}

}  // namespace
