// Reading and writing the game's machine code under a temporary change of
// page protection.
#pragma once

#include <cstddef>
#include <cstdint>

namespace patch {

// Both copy nothing and answer false when the protection cannot be changed:
// such memory is not ours to touch, and touching it would fault.
bool read_code_bytes(std::uintptr_t address, void* destination, std::size_t size, bool unprotect);
bool write_code_bytes(std::uintptr_t address, const void* source, std::size_t size, bool unprotect);

// Destination of the CALL/JMP rel32 or CALL/JMP [abs32] at address; 0 for
// anything else.
std::uintptr_t call_target_at(std::uintptr_t address);

// The kinds of instruction call_target_at understands, as found at a site.
enum class branch_form {
  none,
  call_relative,   // E8 rel32, 5 bytes
  call_indirect,   // FF 15 [abs32], 6 bytes
  jump_relative,   // E9 rel32, 5 bytes
  jump_indirect,   // FF 25 [abs32], 6 bytes
};
branch_form branch_form_at(std::uintptr_t address);
std::size_t branch_length(branch_form form);

// Makes the five bytes at address a CALL rel32 of destination. Returns what
// call_target_at(address) answered just before.
std::uintptr_t write_call(std::uintptr_t address, std::uintptr_t destination);

}  // namespace patch
