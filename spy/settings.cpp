#include "settings.h"

#include <windows.h>

#include <charconv>
#include <cmath>
#include <cwctype>
#include <vector>

#include "runtime_error.h"
#include "unique_handles.h"

namespace spy {

std::wstring ApplicationName() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  std::wstring path(buf.begin(), buf.end());
  size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  return name;
}

std::wstring SettingsPath(const std::wstring& app, const std::wstring& section) {
  return L"Software\\VB and VBA Program Settings\\" + app + L"\\" + section;
}

std::wstring GetSetting(const std::wstring& app, const std::wstring& section, const std::wstring& key,
                        const std::wstring& fallback) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, SettingsPath(app, section).c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
    return fallback;
  common::unique_hkey k(raw);
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(k.get(), key.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return fallback;
  std::vector<wchar_t> buf(bytes / sizeof(wchar_t) + 1, L'\0');
  DWORD got = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
  if (RegQueryValueExW(k.get(), key.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got) !=
      ERROR_SUCCESS)
    return fallback;
  return std::wstring(buf.data());
}

void SaveSetting(const std::wstring& app, const std::wstring& section, const std::wstring& key,
                 const std::wstring& value) {
  HKEY raw = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, SettingsPath(app, section).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &raw, nullptr);
  if (rc != ERROR_SUCCESS) common::Check(HRESULT_FROM_WIN32(rc), L"Snoopet");
  common::unique_hkey k(raw);
  rc = RegSetValueExW(k.get(), key.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  if (rc != ERROR_SUCCESS) common::Check(HRESULT_FROM_WIN32(rc), L"Snoopet");
}

std::wstring SingleText(float value) {
  // The shortest digits that read back to the same number, then written out as plain decimal
  // text: 100000 is "100000", never "1e+05", and no digit beyond what the number carries.
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  const std::string sci(buf, r.ptr);
  const size_t e = sci.find('e');
  if (e == std::string::npos) return std::wstring(sci.begin(), sci.end());  // inf or nan: not stored
  const bool negative = sci[0] == '-';
  std::string digits;
  for (size_t i = negative ? 1 : 0; i < e; ++i)
    if (sci[i] != '.') digits.push_back(sci[i]);
  const int exponent = std::stoi(sci.substr(e + 1));
  std::string out;
  const int point = exponent + 1;  // digits before the decimal point
  if (point <= 0) {
    out = "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  } else if (static_cast<size_t>(point) >= digits.size()) {
    out = digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
  } else {
    out = digits.substr(0, static_cast<size_t>(point)) + "." + digits.substr(static_cast<size_t>(point));
  }
  if (negative && out != "0") out.insert(out.begin(), '-');
  return std::wstring(out.begin(), out.end());
}

std::optional<float> ParseSingle(const std::wstring& text) {
  size_t b = 0, e = text.size();
  while (b < e && std::iswspace(text[b])) ++b;
  while (e > b && std::iswspace(text[e - 1])) --e;
  if (b == e) return std::nullopt;
  std::string narrow;
  for (size_t i = b; i < e; ++i) {
    if (text[i] > 0x7F) return std::nullopt;
    narrow.push_back(static_cast<char>(text[i]));
  }
  const char* first = narrow.c_str();
  if (*first == '+') ++first;  // from_chars takes no plus sign
  float v = 0;
  auto r = std::from_chars(first, narrow.c_str() + narrow.size(), v);
  if (r.ec != std::errc() || r.ptr != narrow.c_str() + narrow.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

}  // namespace spy
