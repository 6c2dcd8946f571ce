// 32-bit arithmetic that raises the overflow error instead of wrapping.
#pragma once
#include <cfenv>
#include <cmath>
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

// Rounds to the nearest integer, an exact half to the even neighbour, in whatever rounding mode
// the calling thread is: floor and the differences below are exact, so no mode enters.
inline double NearestEven(double value) {
  const double below = std::floor(value);
  const double fraction = value - below;
  if (fraction > 0.5) return below + 1.0;
  if (fraction < 0.5) return below;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

// While it lives, the thread's floating-point arithmetic rounds to nearest: sizes computed with
// fractions do not change with a mode the client's code left set. The mode is put back after.
class ScopedRoundToNearest {
 public:
  ScopedRoundToNearest() noexcept : mode_(std::fegetround()) {
    if (mode_ != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  }
  ScopedRoundToNearest(const ScopedRoundToNearest&) = delete;
  ScopedRoundToNearest& operator=(const ScopedRoundToNearest&) = delete;
  ~ScopedRoundToNearest() {
    if (mode_ != FE_TONEAREST) std::fesetround(mode_);
  }

 private:
  int mode_;
};

}  // namespace common
