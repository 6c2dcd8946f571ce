// A menu caption is its text, optionally followed by a TAB and the shortcut text.
#pragma once
#include <string>

namespace glyphary {

// The 1-based position of the first TAB in text, 0 when there is none. before receives the
// text up to the TAB (the whole text without one); after the text behind it, and is left
// untouched when there is no TAB.
int SplitCaption(const std::wstring& text, std::wstring& before, std::wstring& after);
std::wstring CaptionText(const std::wstring& text);
std::wstring CaptionShortcut(const std::wstring& text);

}  // namespace glyphary
