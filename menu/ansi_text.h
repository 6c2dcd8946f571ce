// The menu component holds text as wide strings and hands it to the platform's ANSI functions.
#pragma once
#include <windows.h>

#include <string>

namespace glyphary {

inline std::string AnsiFromWide(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

inline std::wstring WideFromAnsi(const char* text, int length) {
  if (!text || length <= 0) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  std::wstring out(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text, length, out.data(), n);
  return out;
}

}  // namespace glyphary
