// The main window's layout and splitter, driven with real window messages.
#include "spy_fixture.h"

namespace spy_test {
namespace {

using Layout = SpyTest;

// One pixel, in twips: the largest rounding a conversion can add.
constexpr float kPixel = 15.5f;

TEST_F(Layout, FirstStartWithoutSettingsUsesTheDefaults) {
  auto& w = Open();
  const float tpx = w.twips_per_pixel_x(), tpy = w.twips_per_pixel_y();
  const spy::TwipsRect form = w.FormRect();
  EXPECT_NEAR(700, form.left, kPixel);
  EXPECT_NEAR(700, form.top, kPixel);
  EXPECT_NEAR(GetSystemMetrics(SM_CXSCREEN) * tpx - 1400, form.width, kPixel);
  EXPECT_NEAR(GetSystemMetrics(SM_CYSCREEN) * tpy - 1400, form.height, kPixel);

  const spy::TwipsRect tb = w.ControlRect(w.toolbar());
  const spy::TwipsRect tree = w.ControlRect(w.tree());
  const spy::TwipsRect log = w.ControlRect(w.log());
  EXPECT_EQ(0, tb.top);
  EXPECT_NEAR(w.ScaleWidth(), tb.width, kPixel) << "the toolbar spans the width";
  EXPECT_EQ(4500, w.splitter_pos());
  EXPECT_NEAR(30, tree.left, kPixel);
  EXPECT_NEAR(4500, tree.width, kPixel);
  EXPECT_NEAR(tb.height + 30, tree.top, kPixel) << "30 twips below the toolbar";
  EXPECT_NEAR(w.ScaleHeight() - 30 - tree.top, tree.height, kPixel);
  EXPECT_NEAR(4560, log.left, kPixel);
  EXPECT_EQ(tree.top, log.top);
  EXPECT_EQ(tree.height, log.height);
  EXPECT_NEAR(w.ScaleWidth() - 30 - log.left, log.width, kPixel);
  EXPECT_EQ(4560, w.splitter_right());
  EXPECT_EQ(tree.top, w.splitter_top());
  EXPECT_EQ(tree.top + tree.height, w.splitter_bottom());
  EXPECT_EQ(0, w.splitter_state());
  EXPECT_FALSE(w.spying());
}

TEST_F(Layout, SplitterDragStopsAtItsExclusiveLimitsAndResumes) {
  auto& w = Open();
  const float y = (w.splitter_top() + w.splitter_bottom()) / 2;
  const float tpx = w.twips_per_pixel_x();
  // Into the band: the sizing pointer, state 1.
  Mouse(WM_MOUSEMOVE, 4530, y);
  EXPECT_EQ(1, w.splitter_state());
  EXPECT_EQ(spy::Pointer::SizeWE, w.pointer());
  Mouse(WM_LBUTTONDOWN, 4530, y, MK_LBUTTON);
  EXPECT_EQ(2, w.splitter_state());
  EXPECT_EQ(w.hwnd(), GetCapture()) << "the form keeps the mouse during a drag";

  Mouse(WM_MOUSEMOVE, 3000, y, MK_LBUTTON);
  EXPECT_EQ(3000, w.splitter_pos());
  EXPECT_EQ(3060, w.splitter_right());
  EXPECT_NEAR(3000, w.ControlRect(w.tree()).width, kPixel);
  EXPECT_NEAR(3060, w.ControlRect(w.log()).left, kPixel);
  EXPECT_NEAR(w.ScaleWidth() - 30 - w.ControlRect(w.log()).left, w.ControlRect(w.log()).width, kPixel);

  // x = 90 is refused (not clamped); one pixel more is taken.
  Mouse(WM_MOUSEMOVE, 90, y, MK_LBUTTON);
  EXPECT_EQ(3000, w.splitter_pos());
  Mouse(WM_MOUSEMOVE, 90 + tpx, y, MK_LBUTTON);
  EXPECT_EQ(90 + tpx, w.splitter_pos());
  // x = ScaleWidth - 90 is refused; one pixel less is taken.
  const float sw = w.ScaleWidth();
  Mouse(WM_MOUSEMOVE, sw - 90, y, MK_LBUTTON);
  EXPECT_EQ(90 + tpx, w.splitter_pos());
  Mouse(WM_MOUSEMOVE, sw - 90 - tpx, y, MK_LBUTTON);
  EXPECT_EQ(sw - 90 - tpx, w.splitter_pos());
  EXPECT_GT(w.ControlRect(w.log()).width, 0);
  // Beyond the right edge (the mouse is captured): refused; back inside: the drag resumes.
  Mouse(WM_MOUSEMOVE, sw + 3000, y, MK_LBUTTON);
  EXPECT_EQ(sw - 90 - tpx, w.splitter_pos());
  Mouse(WM_MOUSEMOVE, 4005, y, MK_LBUTTON);
  EXPECT_EQ(4005, w.splitter_pos());
  EXPECT_EQ(2, w.splitter_state());

  // Released on the band: state 1, and the next press starts a drag at once.
  Mouse(WM_LBUTTONUP, 4035, y);
  EXPECT_EQ(1, w.splitter_state());
  EXPECT_EQ(nullptr, GetCapture());
  Mouse(WM_LBUTTONDOWN, 4035, y, MK_LBUTTON);
  EXPECT_EQ(2, w.splitter_state());
  Mouse(WM_MOUSEMOVE, 5010, y, MK_LBUTTON);
  EXPECT_EQ(5010, w.splitter_pos());
  // Released off the band: idle; moving over the form elsewhere shows the arrow.
  Mouse(WM_LBUTTONUP, 6000, y);
  EXPECT_EQ(0, w.splitter_state());
  Mouse(WM_MOUSEMOVE, 6000, y);
  EXPECT_EQ(spy::Pointer::Arrow, w.pointer());
  EXPECT_EQ(0, w.splitter_state());
  // The band's vertical bounds are exclusive.
  Mouse(WM_MOUSEMOVE, 5040, w.splitter_top());
  EXPECT_EQ(0, w.splitter_state());
}

TEST_F(Layout, StateOneSurvivesTheBareSurfaceAndAPressThereStartsADrag) {
  auto& w = Open();
  const float y = (w.splitter_top() + w.splitter_bottom()) / 2;
  Mouse(WM_MOUSEMOVE, 4530, y);
  ASSERT_EQ(1, w.splitter_state());
  // Out of the band over the strip between toolbar and tree: arrow, state stays 1.
  const float strip = w.splitter_top() - 15;
  Mouse(WM_MOUSEMOVE, 2000, strip);
  EXPECT_EQ(1, w.splitter_state());
  EXPECT_EQ(spy::Pointer::Arrow, w.pointer());
  // A move over a child control sets the arrow and leaves the state alone.
  Mouse(WM_MOUSEMOVE, 4530, y);
  SendMessageW(w.tree(), WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(spy::Pointer::Arrow, w.pointer());
  EXPECT_EQ(1, w.splitter_state());
  Mouse(WM_LBUTTONDOWN, 2000, strip, MK_LBUTTON);
  EXPECT_EQ(2, w.splitter_state());
  Mouse(WM_MOUSEMOVE, 2505, strip, MK_LBUTTON);
  EXPECT_EQ(2505, w.splitter_pos());
  Mouse(WM_LBUTTONUP, 2505, strip);
  EXPECT_EQ(0, w.splitter_state());
}

TEST_F(Layout, NarrowWindowKeepsTheLogWidthAndTheTreeWidth) {
  auto& w = Open();
  const float tpx = w.twips_per_pixel_x();
  const float log_width = w.ControlRect(w.log()).width;
  // Client area exactly splitter + 120 wide: log Left + 60 = ScaleWidth, the log keeps its width.
  SetClientSize(static_cast<int>(std::lround((4500 + 120) / tpx)), 300);
  EXPECT_EQ(4620, w.ScaleWidth());
  EXPECT_EQ(log_width, w.ControlRect(w.log()).width);
  EXPECT_NEAR(4500, w.ControlRect(w.tree()).width, kPixel);
  // One pixel wider: the log takes the rest of the width again.
  SetClientSize(static_cast<int>(std::lround((4500 + 120) / tpx)) + 1, 300);
  EXPECT_NEAR(4620 + tpx - 30 - 4560, w.ControlRect(w.log()).width, kPixel);
  // Narrower than the splitter: the log starts beyond the right edge, nothing fails.
  SetClientSize(200, 300);
  EXPECT_GT(w.ControlRect(w.log()).left, w.ScaleWidth());
  EXPECT_NEAR(4500, w.ControlRect(w.tree()).width, kPixel);
  EXPECT_EQ(4500, w.splitter_pos());
}

TEST_F(Layout, VeryShortWindowKeepsThePreviousHeights) {
  auto& w = Open();
  SetClientSize(600, 400);
  const spy::TwipsRect tree = w.ControlRect(w.tree());
  const float bottom = w.splitter_bottom();
  const float tpy = w.twips_per_pixel_y();
  // tree Top + 60 >= ScaleHeight: heights stay.
  const int short_px = static_cast<int>(std::lround((tree.top + 60) / tpy));
  SetClientSize(600, short_px);
  ASSERT_GE(tree.top + 60, w.ScaleHeight());
  EXPECT_EQ(tree.height, w.ControlRect(w.tree()).height);
  EXPECT_EQ(tree.height, w.ControlRect(w.log()).height);
  EXPECT_EQ(bottom, w.splitter_bottom());
  // One pixel taller: the layout takes over again.
  SetClientSize(600, short_px + 1);
  EXPECT_NEAR(w.ScaleHeight() - 30 - tree.top, w.ControlRect(w.tree()).height, kPixel);
}

TEST_F(Layout, MinimisingChangesNoSizeOfTreeOrLog) {
  auto& w = Open();
  const spy::TwipsRect tree = w.ControlRect(w.tree());
  const spy::TwipsRect log = w.ControlRect(w.log());
  ShowWindow(w.hwnd(), SW_MINIMIZE);
  PumpFor(100);
  ASSERT_TRUE(IsIconic(w.hwnd()));
  EXPECT_EQ(tree.height, w.ControlRect(w.tree()).height);
  EXPECT_EQ(tree.width, w.ControlRect(w.tree()).width);
  EXPECT_EQ(log.height, w.ControlRect(w.log()).height);
  EXPECT_EQ(log.width, w.ControlRect(w.log()).width);
  ShowWindow(w.hwnd(), SW_RESTORE);
  PumpFor(50);
  EXPECT_EQ(tree.height, w.ControlRect(w.tree()).height);
}

}  // namespace
}  // namespace spy_test
