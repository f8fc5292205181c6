#include "hooking/patch/code_access.h"

#include <cstring>

#include "platform/os.h"

namespace patch {
namespace {

class unprotected_range {
 public:
  unprotected_range(std::uintptr_t address, std::size_t size, bool unprotect)
      : address_(reinterpret_cast<void*>(address)), size_(size) {
    if (!unprotect || size == 0) {
      usable_ = true;
      return;
    }
    changed_ = os::virtual_protect(address_, size_, os::page_execute_readwrite, &old_);
    usable_ = changed_;
  }
  ~unprotected_range() {
    if (changed_) os::virtual_protect(address_, size_, old_, &old_);
  }
  unprotected_range(const unprotected_range&) = delete;
  unprotected_range& operator=(const unprotected_range&) = delete;

  bool usable() const { return usable_; }

 private:
  void* address_;
  std::size_t size_;
  std::uint32_t old_ = 0;
  bool changed_ = false;
  bool usable_ = false;
};

template <class T>
bool read_value(std::uintptr_t address, T* value) {
  return read_code_bytes(address, value, sizeof(T), true);
}

}  // namespace

bool read_code_bytes(std::uintptr_t address, void* destination, std::size_t size, bool unprotect) {
  unprotected_range range(address, size, unprotect);
  if (!range.usable()) return false;
  std::memcpy(destination, reinterpret_cast<const void*>(address), size);
  return true;
}

bool write_code_bytes(std::uintptr_t address, const void* source, std::size_t size, bool unprotect) {
  {
    unprotected_range range(address, size, unprotect);
    if (!range.usable()) return false;
    std::memcpy(reinterpret_cast<void*>(address), source, size);
  }
  if (size != 0) os::flush_instruction_cache(reinterpret_cast<const void*>(address), size);
  return true;
}

branch_form branch_form_at(std::uintptr_t address) {
  std::uint8_t opcode = 0;
  if (!read_value(address, &opcode)) return branch_form::none;
  if (opcode == 0xE8) return branch_form::call_relative;
  if (opcode == 0xE9) return branch_form::jump_relative;
  if (opcode != 0xFF) return branch_form::none;
  std::uint8_t modrm = 0;
  if (!read_value(address + 1, &modrm)) return branch_form::none;
  if (modrm == 0x15) return branch_form::call_indirect;
  if (modrm == 0x25) return branch_form::jump_indirect;
  return branch_form::none;
}

std::size_t branch_length(branch_form form) {
  switch (form) {
    case branch_form::call_relative:
    case branch_form::jump_relative: return 5;
    case branch_form::call_indirect:
    case branch_form::jump_indirect: return 6;
    case branch_form::none: break;
  }
  return 0;
}

std::uintptr_t call_target_at(std::uintptr_t address) {
  switch (branch_form_at(address)) {
    case branch_form::call_relative:
    case branch_form::jump_relative: {
      std::int32_t displacement = 0;
      if (!read_value(address + 1, &displacement)) return 0;
      return static_cast<std::uint32_t>(address + 5 + static_cast<std::uint32_t>(displacement));
    }
    case branch_form::call_indirect:
    case branch_form::jump_indirect: {
      std::uint32_t pointer = 0;
      if (!read_value(address + 2, &pointer)) return 0;
      // The word the CPU loads when the instruction runs. It lies in another
      // module's memory, which may be gone or guarded: read it like code.
      std::uint32_t target = 0;
      if (!read_value(static_cast<std::uintptr_t>(pointer), &target)) return 0;
      return target;
    }
    case branch_form::none: break;
  }
  return 0;
}

std::uintptr_t write_call(std::uintptr_t address, std::uintptr_t destination) {
  const std::uintptr_t previous = call_target_at(address);
  const std::uint8_t opcode = 0xE8;
  write_code_bytes(address, &opcode, 1, true);
  const std::uint32_t displacement = static_cast<std::uint32_t>(destination - (address + 5));
  write_code_bytes(address + 1, &displacement, 4, true);
  return previous;
}

}  // namespace patch
