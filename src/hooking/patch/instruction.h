// The branch instructions found at call sites, decoded and encoded.
#pragma once

#include <cstddef>
#include <cstdint>

namespace patch {

enum class branch_form {
  none,
  call_relative,   // E8 rel32, 5 bytes
  call_indirect,   // FF 15 [abs32], 6 bytes
  jump_relative,   // E9 rel32, 5 bytes
  jump_indirect,   // FF 25 [abs32], 6 bytes
};
branch_form branch_form_at(std::uintptr_t address);
std::size_t branch_length(branch_form form);

// The bytes of a branch of that form standing at address (branch_length of
// them): a relative one leads to target, one through a pointer reads the
// cell at target.
void encode_branch(branch_form form, std::uintptr_t address, std::uintptr_t target, std::uint8_t* out);

// Destination of the CALL/JMP rel32 or CALL/JMP [abs32] at address; 0 for
// anything else, or when a byte on the way cannot be read.
std::uintptr_t call_target_at(std::uintptr_t address);

// The pointer cell that a CALL/JMP [abs32] at address reads; 0 for other forms.
std::uintptr_t indirect_cell_at(std::uintptr_t address);

}  // namespace patch
