// Menu captions: the text before the first TAB is the caption proper, the text after it the shortcut.
#pragma once
#include <cstdint>
#include <string>

namespace glyphary {

// Returns the 1-based position of the first TAB in text, 0 when there is none. before receives the
// text up to the TAB (the whole text when there is none); after receives the text behind the TAB and
// is left untouched when there is no TAB.
int32_t SplitCaption(const std::wstring& text, std::wstring& before, std::wstring& after);

// The part of text before the first TAB.
std::wstring CaptionText(const std::wstring& text);
// The part of text after the first TAB; empty when there is none.
std::wstring CaptionShortcut(const std::wstring& text);

}  // namespace glyphary

namespace glyphary {

// text as the menu shows it without underlines: each single "&" dropped, "&&" left as one "&".
// (Drawn with DT_NOPREFIX; not every platform honours DT_HIDEPREFIX.)
std::wstring WithoutMnemonicMarks(const std::wstring& text);

// The mnemonic letter of text: the character after the first single "&" ("&&" is a literal
// ampersand), 0 when there is none.
wchar_t MnemonicLetter(const std::wstring& text);

}  // namespace glyphary
