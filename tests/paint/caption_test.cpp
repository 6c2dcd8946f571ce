#include <gtest/gtest.h>

#include "caption.h"

using glyphary::CaptionShortcut;
using glyphary::CaptionText;
using glyphary::SplitCaption;

TEST(SplitCaption, CutsAtTheFirstTabOnly) {
  std::wstring before, after;
  EXPECT_EQ(7, SplitCaption(L"&Open.\tCtrl+O\tmore", before, after));
  EXPECT_EQ(L"&Open.", before);
  EXPECT_EQ(L"Ctrl+O\tmore", after);

  EXPECT_EQ(1, SplitCaption(L"\tF1", before, after));
  EXPECT_EQ(L"", before);
  EXPECT_EQ(L"F1", after);

  EXPECT_EQ(5, SplitCaption(L"Exit\t", before, after));
  EXPECT_EQ(L"Exit", before);
  EXPECT_EQ(L"", after);
}

TEST(SplitCaption, WithoutTabTakesTheWholeTextAndLeavesAfterAlone) {
  std::wstring before = L"old", after = L"untouched";
  EXPECT_EQ(0, SplitCaption(L"E&xit", before, after));
  EXPECT_EQ(L"E&xit", before);
  EXPECT_EQ(L"untouched", after);
  EXPECT_EQ(0, SplitCaption(L"", before, after));
  EXPECT_EQ(L"", before);
}

TEST(SplitCaption, TheTextMayBeOneOfTheOutputs) {
  std::wstring text = L"Save\tCtrl+S", after;
  EXPECT_EQ(5, SplitCaption(text, text, after));
  EXPECT_EQ(L"Save", text);
  EXPECT_EQ(L"Ctrl+S", after);
}

TEST(CaptionParts, TextAndShortcut) {
  EXPECT_EQ(L"&Find...", CaptionText(L"&Find...\tCtrl+F"));
  EXPECT_EQ(L"Ctrl+F", CaptionShortcut(L"&Find...\tCtrl+F"));
  EXPECT_EQ(L"&Help", CaptionText(L"&Help"));
  EXPECT_EQ(L"", CaptionShortcut(L"&Help"));
}
