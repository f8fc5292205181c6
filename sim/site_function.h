// The game function around a hooked call site, as the game's compiler laid it
// out: a prologue that saves EBP, EBX, ESI and EDI and gives them values of
// its own, the call instruction at the site, then checks that those registers,
// ESP and EBP came back unchanged, and the epilogue. A mismatch is counted and
// the frame repaired, so that a run can report it instead of crashing later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hooking/patch/instruction.h"
#include "sim/game_image.h"

namespace sim {

class site_function {
 public:
  static constexpr std::size_t prologue_size = 33;

  // Lays out the function with instruction (5 or 6 bytes) at site.
  static void write(host_address site, const std::uint8_t* instruction, std::size_t length);
  // The game's own form: CALL rel32 of callee, and for a 6-byte slot a NOP.
  static void write_call(host_address site, const void* callee, std::size_t slot = 5);

  // Runs the event: calls the function and returns what its callee returned.
  static void* run(host_address site);

  static host_address entry(host_address site) { return static_cast<host_address>(site - prologue_size); }
  // The whole function's bytes as they are now.
  static std::vector<std::uint8_t> bytes(host_address site);
  // Register or stack mismatches seen after the site's call, over all sites.
  static std::uint32_t mismatches();
  static void clear_mismatches();
};

// Machine code the simulator lays out: a 5-byte CALL or JMP rel32 at site
// leading to destination (running addresses), and a 32-bit operand.
// A branch of that form standing at site.
std::vector<std::uint8_t> branch(patch::branch_form form, std::uintptr_t site, std::uintptr_t target);
void append_word(std::vector<std::uint8_t>& code, std::uint32_t word);
inline std::uint32_t address32(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

}  // namespace sim
