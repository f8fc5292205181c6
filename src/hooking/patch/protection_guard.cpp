#include "hooking/patch/protection_guard.h"

#include "platform/os.h"

namespace patch {

bool readable(std::uint32_t protection) {
  constexpr std::uint32_t guard = 0x100;
  if (protection & guard) return false;
  switch (protection & 0xFF) {
    case os::page_readonly:
    case os::page_readwrite:
    case 0x08:  // write-copy
    case os::page_execute_read:
    case os::page_execute_readwrite:
    case 0x80:  // execute-write-copy
      return true;
    default:
      return false;
  }
}

protection_guard::protection_guard(std::uintptr_t address, std::size_t size, access how, bool unprotect) {
  if (!unprotect || size == 0) {
    usable_ = true;
    return;
  }
  const std::uintptr_t end = address + size;
  if (end < address) return;
  usable_ = true;
  for (std::uintptr_t begin = address; begin < end && usable_;) {
    const std::uintptr_t page_end = (begin & ~(page_size - 1)) + page_size;
    const std::uintptr_t part_end = page_end < end && page_end != 0 ? page_end : end;
    usable_ = open(begin, part_end - begin, how);
    begin = part_end;
  }
  if (!usable_) put_back();
}

protection_guard::~protection_guard() { put_back(); }

bool protection_guard::open(std::uintptr_t begin, std::size_t size, access how) {
  void* at = reinterpret_cast<void*>(begin);
  std::uint32_t wanted = os::page_execute_readwrite;
  if (how == access::read) {
    std::uint32_t current = 0;
    if (!os::query_protection(at, &current)) return false;
    if (readable(current)) return true;
    wanted = os::page_readonly;
  }
  if (count_ == max_pages) return false;
  std::uint32_t old = 0;
  if (!os::virtual_protect(at, size, wanted, &old)) return false;
  changes_[count_++] = change{begin, size, old};
  return true;
}

void protection_guard::put_back() {
  while (count_ > 0) {
    const change& c = changes_[--count_];
    std::uint32_t ignored = 0;
    os::virtual_protect(reinterpret_cast<void*>(c.begin), c.size, c.old, &ignored);
  }
}

}  // namespace patch
