// Handle comparison that holds in a 64-bit program once handle values have bit 31 set.
#pragma once
#include <cstdint>

namespace common {

// A window or menu handle names its object by its low 32 bits. Once bit 31 is set, a 64-bit
// program gets the same handle sign-extended from some calls and zero-extended from others
// (the desktop window, a parent, the handles in some messages), so only those bits are compared.
inline bool SameHandle(const void* a, const void* b) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(a)) == static_cast<uint32_t>(reinterpret_cast<uintptr_t>(b));
}

}  // namespace common
