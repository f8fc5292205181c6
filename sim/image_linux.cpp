#include <sys/mman.h>

#include "sim/game_image.h"
#include "sim/os_linux.h"

namespace sim {

namespace memory {

void* allocate(std::size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

bool protect(void* address, std::size_t size, access how) {
  const bool code = how == access::read_execute;
  if (mprotect(address, size, code ? PROT_READ | PROT_EXEC : PROT_READ | PROT_WRITE) != 0) return false;
  os::linux_host::note_protection(reinterpret_cast<std::uintptr_t>(address), size,
                                  code ? os::page_execute_read : os::page_readwrite);
  return true;
}

}  // namespace memory

bool game_image::map(std::uintptr_t base) {
  if (base_ == base) return true;
  if (base_ != 0) {
    munmap(reinterpret_cast<void*>(base_), image_size);
    os::linux_host::forget_protections(base_, image_size);
    base_ = 0;
  }
  void* p = mmap(reinterpret_cast<void*>(base), image_size, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (p == MAP_FAILED) return false;
  if (reinterpret_cast<std::uintptr_t>(p) != base) {
    munmap(p, image_size);
    return false;
  }
  base_ = base;
  sealed_ = false;
  os::linux_host::forget_protections(base, image_size);
  return true;
}

}  // namespace sim
