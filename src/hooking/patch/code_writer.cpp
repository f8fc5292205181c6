#include "hooking/patch/code_writer.h"

#include <cstring>

#include "hooking/patch/instruction.h"
#include "hooking/patch/protection_guard.h"
#include "platform/os.h"

namespace patch {

bool read_code_bytes(std::uintptr_t address, void* destination, std::size_t size, bool unprotect) {
  protection_guard guard(address, size, access::read, unprotect);
  if (!guard.usable()) return false;
  std::memcpy(destination, reinterpret_cast<const void*>(address), size);
  return true;
}

bool write_code_bytes(std::uintptr_t address, const void* source, std::size_t size, bool unprotect) {
  {
    protection_guard guard(address, size, access::write, unprotect);
    if (!guard.usable()) return false;
    std::memcpy(reinterpret_cast<void*>(address), source, size);
  }
  if (size != 0) os::flush_instruction_cache(reinterpret_cast<const void*>(address), size);
  return true;
}

void encode_call(std::uintptr_t address, std::uintptr_t destination, std::size_t length, std::uint8_t* out) {
  encode_branch(branch_form::call_relative, address, destination, out);
  for (std::size_t i = 5; i < length; ++i) out[i] = 0x90;
}

std::uintptr_t write_call(std::uintptr_t address, std::uintptr_t destination, std::size_t length, bool* written) {
  const std::uintptr_t previous = call_target_at(address);
  std::uint8_t bytes[8];
  if (length < 5 || length > sizeof bytes) {
    if (written) *written = false;
    return previous;
  }
  encode_call(address, destination, length, bytes);
  const bool ok = write_code_bytes(address, bytes, length, true);
  if (written) *written = ok;
  return previous;
}

}  // namespace patch
