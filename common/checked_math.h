// 32-bit arithmetic that raises the overflow error instead of wrapping.
#pragma once
#include <cstdint>
#include <limits>
#include <string>

#include "runtime_error.h"

namespace common {

inline int32_t CheckedAdd(int32_t a, int32_t b, const wchar_t* source) {
  int32_t r;
  if (__builtin_add_overflow(a, b, &r)) Raise(errOverflow, source);
  return r;
}

inline int32_t CheckedSub(int32_t a, int32_t b, const wchar_t* source) {
  int32_t r;
  if (__builtin_sub_overflow(a, b, &r)) Raise(errOverflow, source);
  return r;
}

inline int32_t CheckedMul(int32_t a, int32_t b, const wchar_t* source) {
  int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) Raise(errOverflow, source);
  return r;
}

}  // namespace common
