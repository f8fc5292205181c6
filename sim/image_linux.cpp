#include <sys/mman.h>

#include "game_image.h"

namespace sim {

bool game_image::map(std::uintptr_t base) {
  if (base_ == base) return true;
  if (base_ != 0) {
    munmap(reinterpret_cast<void*>(base_), image_size);
    base_ = 0;
  }
  void* p = mmap(reinterpret_cast<void*>(base), image_size, PROT_READ | PROT_WRITE | PROT_EXEC,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (p == MAP_FAILED) return false;
  if (reinterpret_cast<std::uintptr_t>(p) != base) {
    munmap(p, image_size);
    return false;
  }
  base_ = base;
  return true;
}

}  // namespace sim
