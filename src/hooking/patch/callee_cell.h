// The callee of a CALL through a pointer, read from its cell on every pass,
// as the game's own instruction would.
#pragma once

#include <cstdint>
#include <cstring>

namespace patch {

// The function the cell holds now; fixed when there is no cell, or when the
// cell is empty or points back at entry (which would call us forever).
template <class Callee>
Callee callee_through(Callee fixed, std::uintptr_t cell, Callee entry) {
  if (cell == 0) return fixed;
  Callee current = nullptr;
  std::memcpy(&current, reinterpret_cast<const void*>(cell), sizeof current);
  if (current == nullptr || current == entry) return fixed;
  return current;
}

}  // namespace patch
