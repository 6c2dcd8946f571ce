#include "caption.h"

namespace glyphary {

int32_t SplitCaption(const std::wstring& text, std::wstring& before, std::wstring& after) {
  const std::wstring::size_type tab = text.find(L'\t');
  if (tab == std::wstring::npos) {
    before = text;
    return 0;
  }
  // Copy first: text may be the same string as before or after.
  std::wstring head = text.substr(0, tab);
  std::wstring tail = text.substr(tab + 1);
  before = std::move(head);
  after = std::move(tail);
  return static_cast<int32_t>(tab + 1);
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
