#include "window_text.h"

#include <cwchar>

namespace common {

namespace {
// How long reading another thread's window text may take before we give up.
constexpr UINT kTextTimeoutMs = 500;
// Longer texts are cut here: a window that reports an absurd length gets no absurd buffer.
constexpr DWORD_PTR kMaxTextLength = 0x100000;
}  // namespace

std::wstring WindowText(HWND h) {
  if (!h || !IsWindow(h)) return {};
  if (GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId()) {
    int n = GetWindowTextLengthW(h);
    if (n <= 0) return {};
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(h, s.data(), n + 1);
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
  }
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &len)) return {};
  if (len == 0) return {};
  if (len > kMaxTextLength) len = kMaxTextLength;
  std::wstring s(len + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(s.data()), SMTO_ABORTIFHUNG,
                           kTextTimeoutMs, &got))
    return {};
  s.resize(got <= len ? got : len);
  s.resize(wcsnlen(s.c_str(), s.size()));
  return s;
}

}  // namespace common
