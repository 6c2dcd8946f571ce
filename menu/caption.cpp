#include "caption.h"

namespace glyphary {

int SplitCaption(const std::wstring& text, std::wstring& before, std::wstring& after) {
  size_t tab = text.find(L'\t');
  if (tab == std::wstring::npos) {
    before = text;
    return 0;
  }
  before = text.substr(0, tab);
  after = text.substr(tab + 1);
  return static_cast<int>(tab) + 1;
}

std::wstring CaptionText(const std::wstring& text) {
  std::wstring before, after;
  SplitCaption(text, before, after);
  return before;
}

std::wstring CaptionShortcut(const std::wstring& text) {
  std::wstring before, after;
  SplitCaption(text, before, after);
  return after;
}

}  // namespace glyphary
