// The word arithmetic of item data and message parameters: the low and high word of a
// 32-bit value, each as a signed 16-bit value, and a 32-bit value built from two words.
#pragma once
#include <cstdint>

namespace glyphary {

constexpr int16_t LoWord(int32_t v) { return static_cast<int16_t>(static_cast<uint32_t>(v) & 0xFFFF); }
constexpr int16_t HiWord(int32_t v) { return static_cast<int16_t>(static_cast<uint32_t>(v) >> 16); }
constexpr int32_t MakeLong(int16_t lo, int16_t hi) {
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16) | static_cast<uint16_t>(lo));
}

static_assert(LoWord(static_cast<int32_t>(0x8C2D0005)) == 5);
static_assert(HiWord(static_cast<int32_t>(0x8C2D0005)) == -29651);
static_assert(MakeLong(-1, 2) == 0x0002FFFF);

}  // namespace glyphary
