// SetItemImage's keys and failures, and the picture cell that ImageList sets.
#include <gtest/gtest.h>

#include "late_bound.h"
#include "menu_fixture.h"

using common::com_ptr;
using common::unique_variant;
using namespace menu_test;

namespace {

LONG ItemLong(const common::KeyedCollection& c, const wchar_t* key) {
  unique_variant v;
  c.Item(key, v.get());
  return glyphary::ToLong(*v.get(), L"test");
}

std::wstring ItemText(const common::KeyedCollection& c, const wchar_t* key) {
  unique_variant v;
  c.Item(key, v.get());
  return glyphary::ToText(*v.get(), L"test");
}

}  // namespace

TEST(SetItemImage, KeysForSingleControlsAndControlArrayElements) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  ASSERT_EQ(S_OK, SetItemImage(g.get(), 3, L"mnuOpen"));
  EXPECT_EQ(3, ItemLong(g->ImageIndexes(), L"mnuOpen"));
  EXPECT_EQ(L"mnuOpen", ItemText(g->CaptionKeys(), L"&Open..."))
      << "the control's caption, without the shortcut text";
  LONG zero = 0;
  ASSERT_EQ(S_OK, SetItemImage(g.get(), 5, L"mnuRecent", &zero));
  EXPECT_EQ(5, ItemLong(g->ImageIndexes(), L"mnuRecent;0"));
  EXPECT_EQ(L"mnuRecent;0", ItemText(g->CaptionKeys(), L"Recent 0"));
  LONG none = -842150451;
  ASSERT_EQ(S_OK, SetItemImage(g.get(), 7, L"mnuSave", &none));
  EXPECT_EQ(7, ItemLong(g->ImageIndexes(), L"mnuSave")) << "NoMenuIndex passed is no index";
  EXPECT_EQ(3, g->ImageIndexes().Count());
  EXPECT_EQ(3, g->CaptionKeys().Count());
}

TEST(SetItemImage, FailuresKeepWhatWasDoneBeforeThem) {
  auto form = SampleForm();
  auto g = NewComponent();
  // Before Form: the image entry is made, the caption cannot be read.
  EXPECT_EQ(91, ErrorNumber(SetItemImage(g.get(), 1, L"mnuNew")));
  EXPECT_TRUE(g->ImageIndexes().Contains(L"mnuNew"));
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  EXPECT_EQ(457, ErrorNumber(SetItemImage(g.get(), 1, L"mnuNew"))) << "the earlier entry stays";
  // A name or an index the form does not know.
  EXPECT_EQ(730, ErrorNumber(SetItemImage(g.get(), 2, L"mnuNothing")));
  EXPECT_TRUE(g->ImageIndexes().Contains(L"mnuNothing"));
  LONG nine = 9;
  EXPECT_EQ(340, ErrorNumber(SetItemImage(g.get(), 2, L"mnuRecent", &nine)));
  EXPECT_TRUE(g->ImageIndexes().Contains(L"mnuRecent;9"));
  // The same key twice: nothing changes.
  ASSERT_EQ(S_OK, SetItemImage(g.get(), 4, L"mnuOpen"));
  EXPECT_EQ(457, ErrorNumber(SetItemImage(g.get(), 8, L"MNUOPEN")));
  EXPECT_EQ(4, ItemLong(g->ImageIndexes(), L"mnuOpen"));
  // Two controls with equal captions (without regard to case): the second caption add fails.
  form->Control(L"mnuSave")->SetCaption(L"&OPEN...");
  EXPECT_EQ(457, ErrorNumber(SetItemImage(g.get(), 6, L"mnuSave")));
  EXPECT_EQ(6, ItemLong(g->ImageIndexes(), L"mnuSave"));
  EXPECT_EQ(L"mnuOpen", ItemText(g->CaptionKeys(), L"&Open..."));
}

TEST(ImageList, CellIsThePictureSizePlus6) {
  auto g = NewComponent();
  EXPECT_EQ(16, g->CellWidth());
  EXPECT_EQ(16, g->CellHeight());
  ASSERT_EQ(S_OK, SetImageList(g.get(), FakeImageList(16, 16).get()));
  EXPECT_EQ(22, g->CellWidth());
  EXPECT_EQ(22, g->CellHeight());
  ASSERT_EQ(S_OK, SetImageList(g.get(), FakeImageList(32, 20).get()));
  EXPECT_EQ(38, g->CellWidth());
  EXPECT_EQ(26, g->CellHeight());
  EXPECT_EQ(91, ErrorNumber(SetImageList(g.get(), nullptr)));
}

// Picture sizes outside 1..256 are refused with error 5 before anything changes: an image list
// reporting absurd sizes would otherwise size items and buffers from them.
TEST(ImageList, PictureSizesOutside1To256AreRefusedWithError5) {
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetImageList(g.get(), FakeImageList(16, 16).get()));
  const LONG bad[][2] = {{65536, 16}, {16, 65536}, {-213, 16}, {0, 16}, {16, 0}, {257, 257}, {2147483647, 1}};
  for (const auto& b : bad) {
    EXPECT_EQ(5, ErrorNumber(SetImageList(g.get(), FakeImageList(b[0], b[1]).get()))) << b[0] << " x " << b[1];
    EXPECT_EQ(22, g->CellWidth()) << b[0] << " x " << b[1];
    EXPECT_EQ(22, g->CellHeight()) << b[0] << " x " << b[1];
  }
  ASSERT_EQ(S_OK, SetImageList(g.get(), FakeImageList(256, 1).get()));
  EXPECT_EQ(262, g->CellWidth());
  EXPECT_EQ(7, g->CellHeight());
}
