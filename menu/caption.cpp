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

namespace glyphary {

std::wstring WithoutMnemonicMarks(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&') {
      if (i + 1 < text.size() && text[i + 1] == L'&') out += L'&';
      ++i;
      if (i < text.size() && text[i] != L'&') out += text[i];
      continue;
    }
    out += text[i];
  }
  return out;
}

wchar_t MnemonicLetter(const std::wstring& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (text[i + 1] != L'&') return text[i + 1];
    ++i;  // "&&": a literal ampersand
  }
  return 0;
}

}  // namespace glyphary
