// Hexadecimal text of a signed 32-bit value: upper-case digits, no prefix, no
// leading zeros; a negative value as the eight digits of its two's complement.
#pragma once
#include <cstdint>
#include <string>

namespace common {

inline std::wstring Hex(int32_t value) {
  static const wchar_t digits[] = L"0123456789ABCDEF";
  uint32_t v = static_cast<uint32_t>(value);
  wchar_t buf[9];
  int i = 8;
  buf[i] = 0;
  do {
    buf[--i] = digits[v & 0xF];
    v >>= 4;
  } while (v);
  return std::wstring(buf + i);
}

}  // namespace common
