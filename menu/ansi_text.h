// Text goes to and from the platform's menu and drawing functions in their ANSI forms.
#pragma once
#include <windows.h>

#include <string>

namespace glyphary {

inline std::wstring FromAnsi(const char* s, int length) {
  if (length <= 0) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, s, length, nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s, length, w.data(), n);
  return w;
}

inline std::string ToAnsi(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

}  // namespace glyphary
