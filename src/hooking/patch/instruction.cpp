#include "hooking/patch/instruction.h"

#include <cstring>

#include "hooking/patch/code_writer.h"

namespace patch {
namespace {

template <class T>
bool read_value(std::uintptr_t address, T* value) {
  return read_code_bytes(address, value, sizeof(T), true);
}

}  // namespace

branch_form branch_form_at(std::uintptr_t address) {
  std::uint8_t opcode[2] = {};
  if (!read_value(address, &opcode[0])) return branch_form::none;
  if (opcode[0] == 0xE8) return branch_form::call_relative;
  if (opcode[0] == 0xE9) return branch_form::jump_relative;
  if (opcode[0] != 0xFF) return branch_form::none;
  if (!read_value(address + 1, &opcode[1])) return branch_form::none;
  if (opcode[1] == 0x15) return branch_form::call_indirect;
  if (opcode[1] == 0x25) return branch_form::jump_indirect;
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

void encode_branch(branch_form form, std::uintptr_t address, std::uintptr_t target, std::uint8_t* out) {
  std::uint32_t operand = static_cast<std::uint32_t>(target);
  switch (form) {
    case branch_form::call_relative:
    case branch_form::jump_relative:
      out[0] = form == branch_form::call_relative ? 0xE8 : 0xE9;
      operand = static_cast<std::uint32_t>(target - (address + 5));
      std::memcpy(out + 1, &operand, 4);
      return;
    case branch_form::call_indirect:
    case branch_form::jump_indirect:
      out[0] = 0xFF;
      out[1] = form == branch_form::call_indirect ? 0x15 : 0x25;
      std::memcpy(out + 2, &operand, 4);
      return;
    case branch_form::none: return;
  }
}

std::uintptr_t indirect_cell_at(std::uintptr_t address) {
  const branch_form form = branch_form_at(address);
  if (form != branch_form::call_indirect && form != branch_form::jump_indirect) return 0;
  std::uint32_t cell = 0;
  if (!read_value(address + 2, &cell)) return 0;
  return cell;
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
      const std::uintptr_t cell = indirect_cell_at(address);
      // The word the CPU loads when the instruction runs. It lies in another
      // module's memory, which may be gone or guarded: read it like code.
      std::uint32_t target = 0;
      if (cell == 0 || !read_value(cell, &target)) return 0;
      return target;
    }
    case branch_form::none: break;
  }
  return 0;
}

}  // namespace patch
