#include <windows.h>

#include "sim/game_image.h"

// The game image is the first section of hostsim.exe itself, linked to start
// right behind the headers at 0x401000 (see the linker script): memory that
// Wine would otherwise fill with heaps and stacks right after a small image.
__attribute__((section(".gameimg"), used)) static char game_region[sim::image_end - sim::image_begin - 0x1000];

namespace sim {

namespace memory {

void* allocate(std::size_t size) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

bool protect(void* address, std::size_t size, access how) {
  DWORD old = 0;
  return VirtualProtect(address, size, how == access::read_execute ? PAGE_EXECUTE_READ : PAGE_READWRITE, &old) != FALSE;
}

}  // namespace memory

bool game_image::map(std::uintptr_t base) {
  if (base != image_begin) return false;
  if (reinterpret_cast<std::uintptr_t>(game_region) != image_begin + 0x1000) return false;
  if (base_ == base) return true;
  // The page of the headers stays as the loader made it; nothing in it is read.
  if (!memory::protect(game_region, sizeof game_region, memory::access::read_write)) return false;
  base_ = base;
  return true;
}

}  // namespace sim
